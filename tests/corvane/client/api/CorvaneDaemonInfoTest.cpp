#include "client/api/CorvaneDaemonInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneServerId.h"
#include "client/api/CorvaneServerRules.h"
#include "support/MessageLog.h"

namespace {

Corvane::rcAttrStream stream(std::initializer_list<std::pair<const char*, std::string>> entries) {
    return Corvane::rcAttrStream(CorvaneTest::attrs(entries));
}

TEST(CorvaneDaemonInfoTest, ReadFillsDefaultsAndStopsAddressListsAtTheFirstMissingKey) {
    const CorvaneDaemonInfo info(stream({{"Hostname", "h"}}));
    EXPECT_EQ(std::string(info.getIP(0)) + info.getHostName() + info.getFrameIP(0) + info.getDisplayName() + " " +
                  info.getProduct() + " " + info.getVendor() + " " + info.getProductVersionStr(),
              "hhhh unknown unknown 0.0.0");
    EXPECT_EQ(info.getOSType(), 0);
    const CorvaneDaemonInfo gap(stream({{"IP0", "1.1.1.1"}, {"IP2", "3.3.3.3"}, {"FrameIP0", "9.9.9.9"}}));
    EXPECT_EQ(std::string(gap.getIP(0)) + "|" + gap.getIP(2) + "|" + gap.getFrameIP(0), "1.1.1.1||9.9.9.9");
    const CorvaneDaemonInfo empty(stream({{"IP0", ""}, {"Hostname", "h"}}));
    EXPECT_STREQ(empty.getIP(0), "h");
    // Indexes off either end read nothing.
    for (const int index : {-1, CorvaneDaemonInfo::kMaxAddresses, 7})
        EXPECT_EQ(std::string(empty.getIP(index)) + empty.getFrameIP(index), "") << index;

    // The storage identifier is read from version 3 on.
    auto s = stream({{"StorageId", "S"}, {"OSType", "linux"}});
    s.addIntValue("VersionMajor", 2);
    EXPECT_STREQ(CorvaneDaemonInfo(s).getStorageId(), "");
    s.addIntValue("VersionMajor", 3);
    EXPECT_STREQ(CorvaneDaemonInfo(s).getStorageId(), "S");
    EXPECT_EQ(CorvaneDaemonInfo(s).getOSType(), 2);
}

TEST(CorvaneDaemonInfoTest, WriteThenReadGivesAnEqualRecord) {
    // Every field away from its default, so that each must travel.
    const std::string text =
        "IP0 8 10.0.0.1FrameIP0 8 10.0.0.1Hostname 0 HostName 0 DisplayName 4 MainOSType 5 LinuxDatabase 5 OBRAN"
        "NodePort 4 7549FramePort 4 7550VersionMajor 4 2014VersionMinor 1 1VersionMaint 1 2VersionBuild 4 6115"
        "Product 1 PVendor 1 VProductVersionMajor 1 4ProductVersionMinor 1 3ProductVersionMaint 1 5"
        "ProductVersionStr 5 4.3.5ProductBuild 1 6StorageId 2 STHostUUID 1 U";
    CorvaneDaemonInfo info{Corvane::rcAttrStream(text)};
    info.setIP(2, "skipped: index 1 is empty");
    Corvane::rcAttrStream s("junk 1 x");
    info.write(s);
    EXPECT_EQ(s.str(), text);
    const CorvaneDaemonInfo back(s);
    info.setIP(2, "");
    EXPECT_TRUE(back == info);
    info.setUser1(5);
    EXPECT_FALSE(back == info);
    info.setUser1(back.getUser1());
    info.setIP(0, "10.0.0.9");  // the first address counts too
    EXPECT_FALSE(back == info);
    // The server is named by its first address, not its frame one.
    EXPECT_STREQ(info.toServerId().getStr(), "10.0.0.9:OBRAN");
    EXPECT_STREQ(info.toServerId().getStorageId(), "ST");
    EXPECT_EQ(info.getMsgQName(), "/var/tmp/msgq.cv.OBRAN.7550");

    CorvaneTest::MessageLog::Scope log(Corvane::CoMsg::warning);
    const CorvaneDaemonInfo before = info;
    info.setIP(5, "6.6.6.6");
    EXPECT_EQ(log->texts(), std::vector<std::string>{"Exceding maximum number of IPs allowed, ignoring 6.6.6.6"});
    EXPECT_TRUE(info == before);
}

// An identifier names a record by one of its addresses, or by a local name
// when the server runs on this host; the connection table and the discovery
// list decide alike.
TEST(CorvaneDaemonInfoTest, MatchesItsAddressesAndTheLocalNamesOnlyWhenLocal) {
    CorvaneDaemonInfo remote;
    remote.setIP(0, "10.0.0.1");
    remote.setFrameIP(0, "10.0.0.2");
    remote.setDatabase("OBRAN");
    remote.setNodePort(7549);
    CorvaneDaemonInfo local = remote;
    local.setIP(0, "::1");
    const struct {
        const CorvaneDaemonInfo& info;
        CorvaneServerId id;
        bool matches;
    } cases[] = {{remote, {"OBRAN", "10.0.0.2", 7549}, true},  {remote, {"OBRAN", "10.0.0.1", 7549}, true},
                 {local, {"OBRAN", "127.0.0.1", 0}, true},     {remote, {"OBRAN", "127.0.0.1", 7549}, false},
                 {remote, {"OBRAN", "10.0.0.1", 7550}, false}, {remote, {"OTHER", "10.0.0.1", 7549}, false}};
    for (const auto& c : cases) {  // the discovery list's rule agrees
        EXPECT_EQ(c.info.matches(c.id), c.matches) << c.id.getStr() << " " << c.info.getIP(0);
        EXPECT_EQ(corvaneMatchesId(c.info, c.id, corvaneHostToMatch(c.id), {}), c.matches) << c.id.getStr();
    }
}

}  // namespace
