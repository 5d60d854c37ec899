#include "base/fileUtil/CoDirectIO.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "base/fileUtil/CoBuffer.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoBuffer;
using Corvane::CoDirectIO;
using Corvane::CoMsg;

const size_t kPage = CoDirectIO::pageSize();

// Bytes that differ from page to page, so that a misplaced piece shows.
std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

TEST(CoDirectIOTest, ReadsWholeFileIntoWholePages) {
    CorvaneTest::TempDir dir;
    CorvaneTest::MessageLog::Scope log;
    const std::string content = pattern(5000);
    const std::string path = dir.write("f", content);
    CoBuffer buffer;
    size_t got = 0;
    ASSERT_EQ(0, CoDirectIO::read(path.c_str(), &buffer, &got));
    EXPECT_EQ((5000 + kPage - 1) / kPage * kPage, buffer.capacity());
    EXPECT_EQ(content, std::string(buffer.data(), got));
    EXPECT_TRUE(log->texts(CoMsg::warning).empty());  // all aligned: nothing fell back

    EXPECT_EQ(ENOENT, CoDirectIO::read(dir.write("empty", "").c_str(), &buffer, &got));
    EXPECT_TRUE(log->contains("File \"" + dir.file("empty") + "\" is empty.", CoMsg::error));
}

}  // namespace
