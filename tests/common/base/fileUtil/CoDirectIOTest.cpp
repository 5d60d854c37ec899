#include "base/fileUtil/CoDirectIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

class CoDirectIOTest : public ::testing::Test {
protected:
    void TearDown() override {
        CoDirectIO::setReadForTesting(nullptr);
        CoDirectIO::setChunkSizeForTesting(0);
    }

    std::string readBack(const std::string& path, size_t size, int64_t offset = 0) {
        CoBuffer buffer(size, 0);
        size_t got = 0;
        EXPECT_EQ(0, CoDirectIO::read(path.c_str(), buffer.data(), size, &got, offset));
        return std::string(buffer.data(), got);
    }

    CorvaneTest::TempDir dir_;
    CorvaneTest::MessageLog::Scope log_;
};

TEST_F(CoDirectIOTest, ReadsWholeFileIntoWholePages) {
    const std::string content = pattern(5000);
    const std::string path = dir_.write("f", content);
    CoBuffer buffer;
    size_t got = 0;
    ASSERT_EQ(0, CoDirectIO::read(path.c_str(), &buffer, &got));
    EXPECT_EQ((5000 + kPage - 1) / kPage * kPage, buffer.capacity());
    EXPECT_EQ(content, std::string(buffer.data(), got));
    ASSERT_EQ(0, CoDirectIO::read(path.c_str(), &buffer, &got, static_cast<int64_t>(kPage)));
    EXPECT_EQ(content.substr(kPage), std::string(buffer.data(), got));
    EXPECT_TRUE(log_->texts(CoMsg::warning).empty());  // all aligned: nothing fell back
    EXPECT_EQ(CoDirectIO::kDefaultChunkSize, CoDirectIO::chunkSize());  // XQ_DIO_OPTIMAL_CHUNK_SIZE unset

    EXPECT_EQ(ENOENT, CoDirectIO::read(dir_.write("empty", "").c_str(), &buffer, &got));
    EXPECT_TRUE(log_->contains("File \"" + dir_.file("empty") + "\" is empty.", CoMsg::error));
}

TEST_F(CoDirectIOTest, MisalignedTransfersFallBackToOrdinaryIO) {
    const std::string content = pattern(3 * kPage);
    const std::string path = dir_.write("f", content);
    CoBuffer block(3 * kPage, 0);
    const struct {
        size_t bufferOffset, size;
        int64_t offset;
        std::string warning;
    } cases[] = {
        {1, kPage, 0, "Direct I/O disabled, misaligned buffer "},
        {0, 1000, 0, "Direct I/O disabled, read size 1000 not multiple of page size."},
        {0, kPage, 100, "Direct I/O disabled, offset 100 not multiple of page size."},
    };
    for (const auto& c : cases) {
        char* buffer = block.data() + c.bufferOffset;
        size_t got = 0;
        EXPECT_EQ(0, CoDirectIO::read(path.c_str(), buffer, c.size, &got, c.offset));
        EXPECT_EQ(content.substr(static_cast<size_t>(c.offset), c.size), std::string(buffer, got));
        EXPECT_EQ(1u, log_->startingWith(c.warning).size()) << c.warning;
    }
}

TEST_F(CoDirectIOTest, DirectReadFailingWithEIOIsMadeAgainWithoutDirectIO) {
    CoDirectIO::setReadForTesting([](int fd, void* buffer, size_t size) -> ssize_t {
        if (fcntl(fd, F_GETFL) & O_DIRECT) {
            errno = EIO;
            return -1;
        }
        return ::read(fd, buffer, size);
    });
    const std::string content = pattern(2 * kPage);
    const std::string path = dir_.write("f", content);
    EXPECT_EQ(content, readBack(path, 2 * kPage));
    EXPECT_TRUE(log_->contains("Unable to read " + std::to_string(2 * kPage) + " bytes from '" + path +
                               "': Input/output error", CoMsg::error));
    EXPECT_TRUE(log_->contains("Read failed.  Retrying without Direct IO", CoMsg::warning));
}

}  // namespace
