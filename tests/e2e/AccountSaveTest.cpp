// Saves of the gateway as a process that can not lose a document: killed at
// any moment, or out of room on its file system, a save leaves the old
// document or the new one, whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "FastCgiGateway.h"
#include "GatewayFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

class AccountSaveTest : public GatewayFixture {
protected:
    static std::string saveBody(const std::string& document) {
        return "mode=saveUser&host=h&nodeId=n&corvaneMetadata=" + document;
    }
    CorvaneTest::ProcessResult save(const std::string& document) const {
        return post(saveBody(document), {{"REMOTE_USER", "k"}});
    }
    CorvaneTest::ProcessResult load() const { return run({"mode=loadUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", "k"}}); }
    std::string document() const { return CorvaneTest::readFile(dir_.file("account/k.xml")); }

    // The names in ./account.
    std::set<std::string> accountFiles() const {
        std::set<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.file("account"), ignored))
            if (entry.path().filename().string()[0] != '.')
                names.insert(entry.path().filename());
        return names;
    }

    // What ./account holds: each file's name, inode, size and change time.
    using Snapshot = std::map<std::string, std::tuple<ino_t, off_t, time_t, long>>;
    Snapshot snapshot() const {
        Snapshot files;
        for (const std::string& name : accountFiles()) {
            struct stat st;
            if (stat(dir_.file("account/" + name).c_str(), &st) == 0)
                files[name] = std::make_tuple(st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        }
        return files;
    }

    // Starts a save of document as a CGI process, the body on its standard input.
    std::unique_ptr<CorvaneTest::ChildProcess> startSave(const std::string& document) const {
        const std::string bodyFile = dir_.write("body", saveBody(document));
        CorvaneTest::ProcessOptions options;
        options.env = fastCgiPost(saveBody(document).size(), {{"PATH", "/usr/bin:/bin"}, {"REMOTE_USER", "k"}});
        options.cwd = dir_.path();
        options.beforeExec = [path = bodyFile.c_str()] {
            const int fd = ::open(path, O_RDONLY);
            if (fd >= 0)
                dup2(fd, 0);
        };
        return std::make_unique<CorvaneTest::ChildProcess>(
            std::vector<std::string>{CorvaneTest::binPath("corvane-gateway")}, options);
    }
};

TEST_F(AccountSaveTest, SaveKilledAtAnyMomentLeavesTheOldOrTheNewDocument) {
    // A save truncated the file and then wrote it: killed between the two,
    // it left the user an empty or cut document.
    const std::string oldDocument(3 << 20, 'o'), newDocument(2 << 20, 'n');
    ASSERT_EQ(save(oldDocument).out, ok("<response></response>\n"));
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    int killedMidSave = 0;
    for (int i = 0; i < 24; ++i) {
        const Snapshot before = snapshot();
        const auto saving = startSave(newDocument);
        // Half the kills come as soon as the save touches ./account, half a
        // little later; the delays pick kill points, they order nothing.
        const auto delay = std::chrono::microseconds(i % 2 ? std::uniform_int_distribution<int>(0, 3000)(random) : 0);
        const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
        while (snapshot() == before && Clock::now() < giveUp)
            std::this_thread::yield();
        std::this_thread::sleep_for(delay);
        ::kill(saving->pid(), SIGKILL);
        const int status = saving->stop();
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            ++killedMidSave;
        const std::string left = document();
        ASSERT_TRUE(left == oldDocument || left == newDocument)
            << "kill " << i << " (seed " << seed << ") left " << left.size() << " bytes";
        EXPECT_EQ(load().out, ok("<response>" + left + "</response>\n"));
        if (left == newDocument) {
            ASSERT_EQ(save(oldDocument).out, ok("<response></response>\n"));
        }
    }
    EXPECT_GT(killedMidSave, 0);
    // A save after the kills finds nothing in its way.
    ASSERT_EQ(save(newDocument).out, ok("<response></response>\n"));
    EXPECT_EQ(document(), newDocument);
}

TEST_F(AccountSaveTest, SaveOntoAFullFileSystemKeepsTheOldDocument) {
    // A full disk left a cut document, and the answer said it was saved.
    const std::string oldDocument(1000, 'o'), newDocument(400000, 'n');
    const std::string account = dir_.file("account");
    // In a child in a mount namespace of its own, on a 256 kB file system;
    // each check's failure is its own exit status.
    const int status = CorvaneTest::runInChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("corvane-test", account.c_str(), "tmpfs", 0, "size=256k") != 0)
            return 77;
        if (save(oldDocument).out != ok("<response></response>\n"))
            return 1;
        const CorvaneTest::ProcessResult full = save(newDocument);
        if (full.out != error("Failed to write persistent user data")) {
            std::fprintf(stderr, "answered: %.300s\n", full.out.c_str());
            return 2;
        }
        if (load().out != ok("<response>" + oldDocument + "</response>\n"))
            return 3;
        if (accountFiles() != std::set<std::string>{"k.lock", "k.xml"})
            return 4;  // the new document's file stayed behind
        return 0;
    });
    if (status == 77)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(status, 0);
}

}  // namespace
