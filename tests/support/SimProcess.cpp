#include "support/SimProcess.h"

#include <cstdlib>
#include <fstream>

namespace CorvaneTest {

SimProcess::SimProcess(const std::string& tree, const std::vector<std::string>& options, int port,
                       const std::function<void()>& beforeExec) {
    dir_.write("tree.txt", tree);
    std::vector<std::string> argv{binPath("corvane-sim"), "--port",     std::to_string(port),  "--tree",
                                  dir_.file("tree.txt"),  "--call-log", dir_.file("calls.log")};
    argv.insert(argv.end(), options.begin(), options.end());
    ProcessOptions env;
    env.env = {{"PATH", "/usr/bin:/bin"}};
    env.beforeExec = beforeExec;
    process_.reset(new ChildProcess(argv, env));
    const std::string line = process_->readLine(10000);
    port_ = std::atoi(line.c_str());
}

SimProcess::~SimProcess() { stop(); }

std::string SimProcess::host() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> SimProcess::calls() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_.file("calls.log"));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> SimProcess::calls(const std::string& method) const {
    std::vector<std::string> found;
    for (const std::string& line : calls())
        if (line.compare(0, method.size() + 1, method + " ") == 0)
            found.push_back(line);
    return found;
}

void SimProcess::clearCalls() const { std::ofstream(dir_.file("calls.log"), std::ios::trunc); }

int SimProcess::stop() {
    const int status = process_ ? process_->stop() : -1;
    process_.reset();
    return status;
}

const char* SimProcess::demoTree() {
    return "node / FOLDER Root\n"
           "meta / info <info><administrators>demo,admin</administrators></info>\n"
           "node /media FOLDER Media\n"
           "node /media/clip CLIP Clip\n"
           "meta /media/clip info <clip><title>One</title></clip>\n"
           "node /scratch FOLDER Scratch\n";
}

}  // namespace CorvaneTest
