#include "RpcTestSupport.h"

namespace CorvaneTest {

std::string RawConn::readLine(int timeoutMs) {
    std::string line;
    switch (reader_.readLine(&line, timeoutMs)) {
    case LineReader::Result::Line:
        return line;
    case LineReader::Result::Closed:
        return "<closed>";
    case LineReader::Result::Timeout:
        break;
    }
    return "<timeout>";
}

void FakeServer::serve(std::function<void(RawConn&)> script) {
    join();
    thread_ = std::thread([this, script] {
        RawConn conn(listener_.accept(10000));
        if (conn.fd() >= 0)
            script(conn);  // when nobody came, the test fails on its own
    });
}

void FakeServer::join() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace CorvaneTest
