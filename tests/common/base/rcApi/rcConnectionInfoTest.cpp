#include "base/rcApi/rcConnectionInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/osal/CoUser.h"
#include "base/rcApi/rcAttrStream.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/MessageLog.h"

using Corvane::CoMsg;
using Corvane::rcAttrStream;
using Corvane::rcConnectionInfo;
using CorvaneTest::MessageLog;

namespace {

// The chain computed with zlib: an empty piece resets, others continue.
uint32_t refStep(uint32_t c, const std::string& s) {
    return s.empty() ? 0 : static_cast<uint32_t>(::crc32(c, reinterpret_cast<const Bytef*>(s.data()),
                                                          static_cast<uInt>(s.size())));
}

uint32_t refStep(uint32_t c, int v) {
    const uint32_t u = static_cast<uint32_t>(v);
    const std::string le = {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
                            static_cast<char>(u >> 24)};
    return refStep(c, le);
}

uint32_t reference(const rcConnectionInfo& r) {
    uint32_t c = refStep(0, r.userName());
    if (r.hasGroupName())
        c = refStep(c, r.groupName());
    if (r.hasHostUUID())
        c = refStep(c, r.hostUUID());
    c = refStep(c, r.hostName());
    c = refStep(c, r.password());
    c = refStep(c, r.ipAddr());
    c = refStep(c, r.timestamp());
    return refStep(c, r.serial());
}

rcConnectionInfo sample() {
    rcConnectionInfo r;
    r.setUserName("alice");
    r.setHostName("box");
    r.setPassword("secret");
    r.setIpAddr("127.0.0.1");
    r.setProcessName("gateway");
    r.setProcessId(4242);
    r.setTimestamp(1700000000);
    r.setCrc(r.checksum());
    return r;
}

class rcConnectionInfoTest : public ::testing::Test {
protected:
    MessageLog::Scope log_;
};

TEST_F(rcConnectionInfoTest, CrcStepMatchesZlibAndResetsOnEmptyInput) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string a(rng() % 40 + 1, '\0'), b(rng() % 40 + 1, '\0');
        for (char& c : a)
            c = static_cast<char>(rng());
        for (char& c : b)
            c = static_cast<char>(rng());
        const uint32_t chained = rcConnectionInfo::crc32(rcConnectionInfo::crc32(0, a.data(), a.size()), b.data(), b.size());
        EXPECT_EQ(refStep(refStep(0, a), b), chained);
        EXPECT_EQ(refStep(0, a + b), chained);  // a chain equals one CRC of the concatenation
    }
    EXPECT_EQ(0xCBF43926u, rcConnectionInfo::crc32(0, "123456789", 9));  // the standard check value
    EXPECT_EQ(0u, rcConnectionInfo::crc32(0xCBF43926u, "", 0));
}

TEST_F(rcConnectionInfoTest, ChecksumFollowsTheChainWithItsResets) {
    rcConnectionInfo r = sample();
    EXPECT_EQ(reference(r), r.checksum());
    r.setGroupName("staff");
    r.setHostUUID("0f8e7c44-5a36-4c6b-9d0e-3b2a1c0d9e8f");
    EXPECT_EQ(reference(r), r.checksum());
    r.setPassword("");
    r.setTimestamp(-5);
    r.setSerial(-1);
    EXPECT_EQ(reference(r), r.checksum());
}

TEST_F(rcConnectionInfoTest, FieldsBeforeAnEmptyOneAndProcessFieldsAreNotCovered) {
    rcConnectionInfo a = sample(), b = sample();
    b.setSerial(a.serial());
    b.setProcessName("other");
    b.setProcessId(1);
    EXPECT_EQ(a.checksum(), b.checksum());

    // With an empty password only the address, time stamp and serial count.
    a.setPassword("");
    b.setPassword("");
    b.setUserName("mallory");
    b.setHostName("elsewhere");
    b.setGroupName("wheel");
    b.setHostUUID("uuid");
    EXPECT_EQ(a.checksum(), b.checksum());
    b.setIpAddr("10.9.8.7");
    EXPECT_NE(a.checksum(), b.checksum());
}

TEST_F(rcConnectionInfoTest, TextFormListsTheKeysInOrder) {
    rcConnectionInfo r;
    r.setUserName("u");
    r.setProcessName("p");
    r.setProcessId(12);
    r.setHostName("h");
    r.setIpAddr("1.2.3.4");
    r.setSerial(5);
    r.setCrc(0x12345678u);
    EXPECT_EQ(
        "StrUserName 1 uStrPassword 0 StrProcessName 1 pIntProcessId 2 12StrHostName 1 hStrIpAddr 7 1.2.3.4"
        "IntSerial 1 5IntTimestamp 1 0IntCRC 9 305419896",
        r.toString());
    r.setGroupName("g");
    r.setHostUUID("id");
    EXPECT_EQ(0u, r.toString().find("StrUserName 1 uStrGroupName 1 gStrHostUUID 2 idStrPassword 0 "));
}

TEST_F(rcConnectionInfoTest, ReceivedRecordVerifiesIncludingNegativeChecksums) {
    rcConnectionInfo r = sample();
    // Find a serial whose checksum has the top bit set (about every other one).
    for (int serial = 0; serial < 1000 && r.checksum() < 0x80000000u; ++serial)
        r.setSerial(serial);
    ASSERT_GE(r.checksum(), 0x80000000u);
    r.setCrc(r.checksum());
    const std::string text = r.toString();
    std::string crcText;
    ASSERT_TRUE(rcAttrStream(text).getValue("IntCRC", crcText));
    EXPECT_EQ('-', crcText[0]);

    const rcConnectionInfo got(text.c_str());
    EXPECT_TRUE(got.isValid());
    EXPECT_EQ(r.crc(), got.crc());
    EXPECT_EQ("alice", got.userName());
    EXPECT_EQ("gateway", got.processName());
    EXPECT_EQ(4242, got.processId());
    EXPECT_EQ(r.serial(), got.serial());
    EXPECT_FALSE(got.hasGroupName());
    EXPECT_FALSE(got.hasHostUUID());
    EXPECT_EQ("undefined", got.groupName());
    EXPECT_FALSE(log_->contains("Syntax error while parsing connection information, output values won't be accurate"));
}

TEST_F(rcConnectionInfoTest, WrongChecksumIsRefusedAndPosted) {
    rcConnectionInfo r = sample();
    r.setSerial(77);
    r.setCrc(r.checksum() ^ 1);
    const rcConnectionInfo got(r.toString().c_str());
    EXPECT_FALSE(got.isValid());
    EXPECT_TRUE(log_->contains("Unable to establish connection [77]: checksum failed.", CoMsg::error));
    bool sawAge = false;
    for (const auto& line : log_->lines())
        sawAge |= line.level == CoMsg::debugging && line.text.rfind("Connection [77] Timestamp: 1700000000 Age: ", 0) == 0;
    EXPECT_TRUE(sawAge);
}

TEST_F(rcConnectionInfoTest, MissingKeysKeepDefaultsAndAreReported) {
    for (const char* text : {"", "StrUserName 1 u", "garbage without structure", "IntCRC 1 0"}) {
        log_->clear();
        const rcConnectionInfo got(text);
        EXPECT_TRUE(log_->contains(
            "Syntax error while parsing connection information, output values won't be accurate", CoMsg::debugging))
            << text;
        EXPECT_EQ("0.0.0.0", got.ipAddr());
        EXPECT_FALSE(got.isValid()) << text;
    }
}

TEST_F(rcConnectionInfoTest, SerialsGrowPerRecord) {
    const rcConnectionInfo a, b;
    EXPECT_EQ(a.serial() + 1, b.serial());
}

TEST_F(rcConnectionInfoTest, FillDescribesThisProcess) {
    rcConnectionInfo r;
    r.fill();
    EXPECT_TRUE(r.isValid());
    EXPECT_EQ(r.checksum(), r.crc());
    EXPECT_EQ("corvane_rpc_tests", r.processName());
    EXPECT_EQ(static_cast<int>(::getpid()), r.processId());
    std::string user;
    if (Corvane::CoUser::effectiveUserName(&user)) {
        EXPECT_EQ(user, r.userName());
    }
    char host[128] = {};
    ASSERT_EQ(0, ::gethostname(host, sizeof host - 1));
    EXPECT_EQ(host, r.hostName());
    EXPECT_EQ("0.0.0.0", r.ipAddr());  // no descriptor given
    EXPECT_TRUE(rcConnectionInfo(r.toString().c_str()).isValid());
    r.dump();
    EXPECT_EQ(1, static_cast<int>(log_->lines().size()) -
                     log_->count("User process information couldn't be adequately retrieved"));
}

TEST_F(rcConnectionInfoTest, FillCarriesTheConfiguredHostUUID) {
    const std::string uuid = "0f8e7c44-5a36-4c6b-9d0e-3b2a1c0d9e8f";
    rcConnectionInfo with, without;
    {
        CorvaneTest::ScopedNetworkConfig file("[Local]\nUUID=" + uuid + "\n");
        with.fill();
    }
    {
        const auto file = CorvaneTest::ScopedNetworkConfig::missing();
        without.fill();
    }

    EXPECT_TRUE(with.hasHostUUID());
    EXPECT_EQ(uuid, with.hostUUID());
    EXPECT_NE(std::string::npos, with.toString().find("StrHostUUID 36 " + uuid));
    const rcConnectionInfo got(with.toString().c_str());
    EXPECT_TRUE(got.isValid());
    EXPECT_TRUE(got.hasHostUUID());
    EXPECT_EQ(uuid, got.hostUUID());

    EXPECT_FALSE(without.hasHostUUID());
    EXPECT_EQ(std::string::npos, without.toString().find("StrHostUUID"));
    EXPECT_TRUE(log_->contains("User process information couldn't be adequately retrieved", CoMsg::debugging));
}

}  // namespace
