#include "base/rcApi/rcConnectionInfo.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "common/base/network/NetworkTestSupport.h"
#include "support/MessageLog.h"
#include "support/Process.h"

using Corvane::CoMsg;
using Corvane::rcConnectionInfo;

namespace {

rcConnectionInfo sample() {
    rcConnectionInfo r;
    r.setUserName("alice");
    r.setHostName("box");
    r.setPassword("secret");
    r.setIpAddr("127.0.0.1");
    r.setProcessName("gateway");
    r.setProcessId(4242);
    r.setTimestamp(1700000000);
    r.setSerial(5);
    r.setCrc(r.checksum());
    return r;
}

class rcConnectionInfoTest : public ::testing::Test {
protected:
    CorvaneTest::MessageLog::Scope log_;
};

// The chain covers user, group, UUID, host, password, address, time stamp
// and serial, not the process; an empty field restarts it.
TEST_F(rcConnectionInfoTest, ChecksummedTextFormIsVerifiedOnReceiptWithMissingKeysReported) {
    const struct {
        const char* user;
        bool groupAndUuid;
        const char* password;
        int timestamp, serial;
        uint32_t crc;
    } cases[] = {{"alice", true, "secret", 1700000000, 5, 0x64A9E389u},
                 {"alice", true, "", -5, -1, 0x26BB35C2u},
                 {"mallory", false, "", -5, -1, 0x26BB35C2u}};
    for (const auto& c : cases) {
        rcConnectionInfo r = sample();
        r.setUserName(c.user);
        if (c.groupAndUuid) {
            r.setGroupName("staff");
            r.setHostUUID("0f8e7c44-5a36-4c6b-9d0e-3b2a1c0d9e8f");
        }
        r.setPassword(c.password);
        r.setTimestamp(c.timestamp);
        r.setSerial(c.serial);
        r.setProcessName("other");
        EXPECT_EQ(c.crc, r.checksum()) << c.user << " " << c.groupAndUuid << " '" << c.password << "'";
    }

    // The text form lists the keys. A received record verifies, its checksum
    // negative or not, and reads back every field; a wrong checksum is refused
    // and posted.
    rcConnectionInfo r = sample();
    EXPECT_EQ(
        "StrUserName 5 aliceStrPassword 6 secretStrProcessName 7 gatewayIntProcessId 4 4242StrHostName 3 box"
        "StrIpAddr 9 127.0.0.1IntSerial 1 5IntTimestamp 10 1700000000IntCRC 10 1250868003",
        r.toString());
    r.setGroupName("g");
    r.setHostUUID("id");
    EXPECT_EQ(0u, r.toString().find("StrUserName 5 aliceStrGroupName 1 gStrHostUUID 2 idStrPassword 6 secret"));
    // Find a serial whose checksum has the top bit set (about every other one).
    for (int serial = 0; serial < 1000 && r.checksum() < 0x80000000u; ++serial)
        r.setSerial(serial);
    r.setCrc(r.checksum());
    const std::string text = r.toString();
    std::string crcText;
    ASSERT_TRUE(Corvane::rcAttrStream(text).getValue("IntCRC", crcText));
    EXPECT_EQ('-', crcText[0]);
    const rcConnectionInfo got(text.c_str());
    EXPECT_TRUE(got.isValid());
    EXPECT_EQ(text, got.toString());
    EXPECT_FALSE(log_->contains("Syntax error while parsing connection information, output values won't be accurate"));

    r.setSerial(77);
    r.setCrc(r.checksum() ^ 1);
    EXPECT_FALSE(rcConnectionInfo(r.toString().c_str()).isValid());
    EXPECT_TRUE(log_->contains("Unable to establish connection [77]: checksum failed.", CoMsg::error));
    EXPECT_EQ(1u, log_->startingWith("Connection [77] Timestamp: 1700000000 Age: ").size());

    // Missing keys keep their defaults and are reported.
    for (const char* partial : {"", "StrUserName 1 u", "garbage without structure", "IntCRC 1 0"}) {
        log_->clear();
        const rcConnectionInfo missing(partial);
        EXPECT_TRUE(log_->contains("Syntax error while parsing connection information, output values won't be accurate",
                                   CoMsg::debugging))
            << partial;
        EXPECT_EQ("0.0.0.0", missing.ipAddr());
        EXPECT_FALSE(missing.isValid()) << partial;
    }
}

TEST_F(rcConnectionInfoTest, FillDescribesThisProcessAndItsConfiguredHostOrSaysWhyNot) {
    const std::string uuid = "0f8e7c44-5a36-4c6b-9d0e-3b2a1c0d9e8f";
    rcConnectionInfo r, without;
    {
        CorvaneTest::ScopedNetworkConfig file("[Local]\nUUID=" + uuid + "\n");
        r.fill();
    }
    EXPECT_TRUE(log_->texts(CoMsg::error).empty());
    {
        const auto file = CorvaneTest::ScopedNetworkConfig::missing();
        without.fill();
    }
    EXPECT_TRUE(log_->contains("User process information couldn't be adequately retrieved", CoMsg::debugging));
    EXPECT_EQ(std::string::npos, without.toString().find("StrHostUUID"));
    EXPECT_EQ(r.serial() + 1, without.serial());
    EXPECT_EQ(static_cast<int>(::getpid()), r.processId());
    EXPECT_NE("", r.userName());
    char host[128] = {};
    ASSERT_EQ(0, ::gethostname(host, sizeof host - 1));
    EXPECT_EQ(host, r.hostName());
    EXPECT_EQ("0.0.0.0", r.ipAddr());  // no descriptor given
    const rcConnectionInfo got(r.toString().c_str());
    EXPECT_TRUE(got.isValid());
    EXPECT_EQ(uuid, got.hostUUID());

    // With no descriptor free, the process name cannot be read; fill says why.
#ifndef CORVANE_SANITIZER  // its runtime needs free descriptors
    const int status = CorvaneTest::runInChild([this] {
        rlimit none{};
        ::getrlimit(RLIMIT_NOFILE, &none);
        none.rlim_cur = 0;
        if (::setrlimit(RLIMIT_NOFILE, &none) != 0)
            return 2;
        rcConnectionInfo info;
        info.fill();
        const std::string text =
            "Could not open '/proc/" + std::to_string(::getpid()) + "/cmdline': " + std::strerror(EMFILE) + ".";
        return log_->contains(text, CoMsg::error) && info.processName() == "undefined" ? 0 : 1;
    });
    EXPECT_EQ(0, status);
#endif
}

// The process name is the base name of the command's first word. A child
// rewrites its own command line, which /proc shows as it is in memory; its
// standard input is closed, as a daemon's may be, so that the file opens as
// descriptor 0.
TEST_F(rcConnectionInfoTest, ProcessNameIsTheBaseNameOfTheCommand) {
    const int status = CorvaneTest::runInChild([] {
        ::close(0);
        const struct {
            const char* command;
            const char* name;
        } cases[] = {{"dir/tool", "tool"}, {"t//", "t"}, {"/", "/"}, {"", "."}};
        if (std::strlen(program_invocation_name) < 8)
            return 100;
        int failed = 0;
        for (const auto& c : cases) {
            std::strcpy(program_invocation_name, c.command);
            rcConnectionInfo info;
            info.fill();
            failed = failed * 2 + (info.processName() != c.name);
        }
        return failed;
    });
    EXPECT_EQ(0, status) << "a bit per failing case, first case highest";
}

}  // namespace
