#include "base/fileUtil/CoFileIO.h"

#include <string>

#include <gtest/gtest.h>

#include "base/loggerBase/CoException.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoException;
using Corvane::CoFileIO;

// What body threw, as "detail / text"; empty when it did not throw.
template <typename Body>
std::string failure(Body body) {
    try {
        body();
    } catch (const CoException& e) {
        return std::string(e.detail()) + " / " + e.what();
    }
    return "";
}

class CoFileIOTest : public ::testing::Test {
protected:
    CorvaneTest::TempDir dir_;
};

TEST_F(CoFileIOTest, ReadsWholeFilesAndReportsOpenFailures) {
    const std::string text("line\n\0binary", 12);
    CoFileIO file(dir_.write("f", text));
    EXPECT_EQ(text, file.readAll());
    CoFileIO missing(dir_.file("missing"));
    EXPECT_EQ("Could not open \"" + missing.path() + "\" (flags:r) / No such file or directory",
              failure([&] { missing.open("r"); }));
}

}  // namespace
