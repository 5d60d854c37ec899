#include "base/fileUtil/CoDirectIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/fileUtil/CoBuffer.h"
#include "common/base/fileUtil/FreshProcess.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using Corvane::CoBuffer;
using Corvane::CoDirectIO;
using Corvane::CoMsg;

const size_t kPage = CoDirectIO::pageSize();

// Bytes that differ from page to page, so that a piece put in the wrong
// place shows.
std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

// Fails direct reads with EIO, and interrupts the first read of all.
ssize_t failingDirectRead(int fd, void* buffer, size_t size) {
    static bool interrupted = false;
    if (!interrupted) {
        interrupted = true;
        errno = EINTR;
        return -1;
    }
    if (fcntl(fd, F_GETFL) & O_DIRECT) {
        errno = EIO;
        return -1;
    }
    return ::read(fd, buffer, size);
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
    // All aligned: nothing fell back.
    EXPECT_TRUE(log_->texts(CoMsg::warning).empty());
    EXPECT_TRUE(log_->texts(CoMsg::error).empty());
}

TEST_F(CoDirectIOTest, TransfersLargerThanAChunkGoInPieces) {
    CoDirectIO::setChunkSizeForTesting(kPage);
    const std::string content = pattern(5 * kPage);
    CoBuffer buffer(content.size(), 0);
    content.copy(buffer.data(), content.size());
    const std::string path = dir_.file("f");
    ASSERT_EQ(0, CoDirectIO::write(path.c_str(), buffer.data(), content.size(), static_cast<int64_t>(kPage)));
    // Misaligned offset: ordinary I/O, same bytes.
    ASSERT_EQ(0, CoDirectIO::write(path.c_str(), "xyz", 3, 1));
    std::string expected = std::string(kPage, '\0') + content;
    expected.replace(1, 3, "xyz");
    EXPECT_EQ(expected, CorvaneTest::readFile(path));
    EXPECT_EQ(expected.substr(kPage, 3 * kPage), readBack(path, 3 * kPage, static_cast<int64_t>(kPage)));
}

TEST_F(CoDirectIOTest, MisalignedTransfersFallBackToOrdinaryIO) {
    const std::string content = pattern(3 * kPage);
    const std::string path = dir_.write("f", content);
    CoBuffer block(3 * kPage, 0);
    const struct {
        size_t bufferOffset;
        size_t size;
        int64_t offset;
        std::string warning;
    } cases[] = {
        {1, kPage, 0, "Direct I/O disabled, misaligned buffer "},
        {0, 1000, 0, "Direct I/O disabled, read size 1000 not multiple of page size."},
        {0, kPage, 100, "Direct I/O disabled, offset 100 not multiple of page size."},
    };
    for (const auto& c : cases) {
        log_->clear();
        char* buffer = block.data() + c.bufferOffset;
        int err = 0;
        EXPECT_FALSE(CoDirectIO::checkDirectIO(buffer, c.size, c.offset, &err)) << c.warning;
        EXPECT_EQ(EINVAL, err);
        size_t got = 0;
        EXPECT_EQ(0, CoDirectIO::read(path.c_str(), buffer, c.size, &got, c.offset));
        EXPECT_EQ(content.substr(static_cast<size_t>(c.offset), c.size), std::string(buffer, got));
        EXPECT_EQ(2u, log_->startingWith(c.warning).size()) << c.warning;
    }
}

TEST_F(CoDirectIOTest, DirectReadFailingWithEIOIsMadeAgainWithoutDirectIO) {
    CoDirectIO::setReadForTesting(&failingDirectRead);
    const std::string content = pattern(2 * kPage);
    const std::string path = dir_.write("f", content);
    EXPECT_EQ(content, readBack(path, 2 * kPage));
    EXPECT_TRUE(log_->contains("Unable to read " + std::to_string(2 * kPage) + " bytes from '" + path +
                               "': Input/output error", CoMsg::error));
    EXPECT_TRUE(log_->contains("Read failed.  Retrying without Direct IO", CoMsg::warning));
}

TEST_F(CoDirectIOTest, FailuresAreReportedAndReturned) {
    const std::string empty = dir_.write("empty", "");
    const std::string missing = dir_.file("missing");
    CoBuffer buffer;
    size_t got = 1;
    EXPECT_EQ(ENOENT, CoDirectIO::read(empty.c_str(), &buffer, &got));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(log_->contains("File \"" + empty + "\" is empty.", CoMsg::error));
    EXPECT_EQ(ENOENT, CoDirectIO::read(missing.c_str(), &buffer, &got));
    EXPECT_TRUE(log_->contains("Unable to open file '" + missing + "': No such file or directory", CoMsg::error));
    EXPECT_EQ(ENOENT, CoDirectIO::write((missing + "/f").c_str(), "x", 1));
    EXPECT_EQ(EINVAL, CoDirectIO::write(empty.c_str(), "x", 1, -2));
    EXPECT_TRUE(log_->contains("Unable to lseek file '" + empty + "' at offset -2: Invalid argument"));
}

// The switch and the chunk size are read once per process.
TEST_F(CoDirectIOTest, EnvironmentTurnsDirectIOOffAndSetsTheChunk) {
    const std::string page = std::to_string(kPage);
    const std::map<std::string, std::string> cases[] = {
        {{"XQ_DISABLE_DIRECT_IO", ""}, {"XQ_DIO_OPTIMAL_CHUNK_SIZE", std::to_string(2 * kPage + 5)},
         {"EXPECTED_CHUNK", std::to_string(2 * kPage)}},
        {{"XQ_BDSIO_DISABLE", "0"}, {"XQ_DIO_OPTIMAL_CHUNK_SIZE", "0"},
         {"EXPECTED_CHUNK", std::to_string(CoDirectIO::kDefaultChunkSize)}},
    };
    for (const auto& env : cases)
        if (CorvaneTest::inFreshProcess(env))
            break;
    if (!std::getenv("EXPECTED_CHUNK"))
        return;
    EXPECT_EQ(std::getenv("EXPECTED_CHUNK"), std::to_string(CoDirectIO::chunkSize()));
    const std::string content = pattern(kPage);
    const std::string path = dir_.write("f", content);
    EXPECT_EQ(content, readBack(path, kPage));
    EXPECT_EQ(content, readBack(path, kPage));
    EXPECT_EQ(1, log_->count("Direct I/O disabled by env. var.", CoMsg::warning));
}

TEST_F(CoDirectIOTest, BufferKeepsABlockWithinATenthOfTheSize) {
    const struct {
        size_t size;
        size_t capacity;
    } cases[] = {{950, 1000}, {900, 900}, {1001, 1001}, {0, 0}};
    for (const auto& c : cases) {
        CoBuffer buffer(1000, 16);
        buffer.resize(c.size, 16);
        EXPECT_EQ(c.capacity, buffer.capacity()) << c.size;
        EXPECT_EQ(c.size == 0, buffer.data() == nullptr) << c.size;
    }
    // A block kept must still be aligned as asked.
    CoBuffer buffer(1000, 16);
    buffer.resize(1000, 0);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(buffer.data()) % kPage);
    CoBuffer other;
    other.swap(buffer);
    EXPECT_EQ(nullptr, buffer.data());
    EXPECT_EQ(1000u, other.capacity());
}

}  // namespace
