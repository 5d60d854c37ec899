// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away. For tests that need real files.
#pragma once

#include <set>
#include <string>

namespace CorvaneTest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    // Writes bytes to path() + "/" + name and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

// Reads a whole file; empty when it can not be read.
std::string readFile(const std::string& path);

// The descriptors open in this process, and their number.
std::set<int> openFds();
int countOpenFds();
// How many of them are sockets connected to port.
int connectionsTo(int port);

}  // namespace CorvaneTest
