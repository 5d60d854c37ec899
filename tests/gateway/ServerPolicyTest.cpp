// The servers a site lets requests reach: every form an entry of
// CORVANE_ALLOWED_SERVERS takes, and every malformed one, against the
// hosts it must let through and those it must refuse.
#include "ServerPolicy.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CgiRequest.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneServerHandle.h"
#include "support/Eventually.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

// An entry list, servers it lets through and servers it refuses.
struct Row {
    const char* allowed;
    std::vector<std::string> through, refused;
};

// "" when the policy lets server through, else what it throws.
std::string refusal(const char* allowed, const std::string& server) {
    try {
        ServerPolicy(allowed).check(server);
    } catch (const std::string& message) {
        return message;
    }
    return "";
}

std::vector<std::string> words(const char* text) {
    std::vector<std::string> list;
    CgiRequest::splitString(text, list, " ");
    return list;
}

std::string notAllowed(const std::string& server) { return "Corvane server '" + server + "' is not allowed"; }

void expectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows)
        for (const bool through : {true, false})
            for (const std::string& server : through ? row.through : row.refused)
                EXPECT_EQ(refusal(row.allowed, server), through ? "" : notAllowed(server))
                    << "'" << row.allowed << "' against " << server;
}

TEST(ServerPolicyTest, ServerTextsReadAsHostWithPortOrDatabase) {
    const struct {
        const char* server;
        const char* host;
        int port;
    } valid[] = {
        {"gw", "gw", 0},
        {"Media-1.example_x", "Media-1.example_x", 0},
        {"10.1.2.3:1", "10.1.2.3", 1},
        {"h:65535", "h", 65535},
        {"h:00080", "h", 80},
        {"h:ARCHIVE", "h", 0},
        {"h:_db.2-x", "h", 0},
    };
    for (const auto& c : valid) {
        std::string host;
        int port = -1;
        EXPECT_TRUE(ServerPolicy::parse(c.server, &host, &port)) << c.server;
        EXPECT_EQ(host, c.host) << c.server;
        EXPECT_EQ(port, c.port) << c.server;
        EXPECT_EQ(refusal(nullptr, c.server), "") << c.server;
    }
    // A port has one to five digits; "h:2DB" the library would read as port 2.
    for (const char* server : {"", ":7549", "-h", ".h", "h:", "h:0", "h:65536", "h:123456", "h:000080", "h:80x",
                               "h:2DB", "h:-1", "h:80:90", "h:DB:80", "h/8", "h x", "h\n", "::1", "[::1]:7549"}) {
        std::string host;
        int port = -1;
        EXPECT_FALSE(ServerPolicy::parse(server, &host, &port)) << server;
        EXPECT_EQ(refusal(nullptr, server), "Invalid Corvane server '" + std::string(server) + "'");
        EXPECT_EQ(refusal("0.0.0.0/0", server), "Invalid Corvane server '" + std::string(server) + "'");
    }
}

TEST(ServerPolicyTest, AddressesRangesAndPortsAllowWhatTheySayAndNoMore) {
    expectRows({
        {nullptr, {"203.0.113.9"}, {}},
        {"", {"203.0.113.9:7549"}, {}},
        {" ,\t\n,", {"203.0.113.9"}, {}},  // blank: no list
        {"10.1.2.3", {"10.1.2.3", "10.1.2.3:7549", "10.1.2.3:ARCHIVE"}, {"10.1.2.4", "10.1.2.31"}},
        {"10.1.2.3:7549", {"10.1.2.3:7549"}, {"10.1.2.3:7548", "10.1.2.3", "10.1.2.3:ARCHIVE"}},
        {"10.1.2.3:1", {"10.1.2.3:1"}, {}},
        {"10.1.2.3:65535", {"10.1.2.3:65535"}, {}},
        {"0.0.0.0/0", {"203.0.113.9", "0.0.0.0"}, {}},
        {"128.0.0.0/1", {"255.255.255.255"}, {"127.255.255.255"}},
        {"10.0.0.0/7", {"11.255.0.1"}, {"12.0.0.0"}},
        {"10.0.0.0/8", {"10.255.255.255"}, {"11.0.0.0", "9.255.255.255"}},
        {"10.128.0.0/9", {"10.255.0.1"}, {"10.127.0.1"}},
        {"10.1.2.0/23", {"10.1.3.255"}, {"10.1.4.0", "10.1.1.255"}},
        {"10.1.2.9/24", {"10.1.2.200"}, {}},  // the bits past the prefix count for nothing
        {"10.1.2.2/31", {"10.1.2.3"}, {"10.1.2.4"}},
        {"10.1.2.3/32", {"10.1.2.3"}, {"10.1.2.2"}},
        {"10.0.0.0/08", {"10.9.9.9"}, {}},
        {"10.0.0.0/8:7549", {"10.9.9.9:7549"}, {"10.9.9.9:80", "11.9.9.9:7549"}},
        // Entries split at blanks and commas.
        {"10.0.0.1, 10.0.0.2\t10.0.0.3\n10.0.0.4,,10.0.0.5 ,",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"},
         {"10.0.0.6", "10.0.0.0"}},
        // An IPv6 range says nothing of IPv4 addresses.
        {"::/0", {}, {"10.1.2.3"}},
        {"[::]/0:7549", {}, {"10.1.2.3:7549"}},
    });
}

TEST(ServerPolicyTest, NamesMatchWithoutCaseOrByTheAddressTheyLookUpTo) {
    // Only names the hosts file knows and numeric forms: no lookup leaves
    // the machine.
    expectRows({
        {"LocalHost", {"localhost"}, {}},
        {"localhost", {"LOCALHOST:7549", "127.0.0.1"}, {"127.0.0.2"}},
        {"localhost:7549", {"localhost:7549"}, {"localhost:7548", "localhost", "127.0.0.1:7548"}},
        {"127.0.0.0/8", {"localhost"}, {}},
        {"10.0.0.0/8", {}, {"localhost"}},
        {"127.0.0.1:7549", {}, {"localhost:7548"}},
        // Other spellings of an address are names, checked by their address.
        {"127.0.0.1", {"localhost:7549", "127.1", "2130706433"}, {"0x7f.0.0.2"}},
        {"127.0.0.0/31", {"0177.0.0.1"}, {"0177.0.0.2"}},
        {"127.1", {"127.0.0.1"}, {}},
        {"127.2", {}, {"127.0.0.1"}},
    });
}

// A malformed entry refuses every server, naming itself, however many good
// entries stand around it: read leniently, it would allow what was never
// written.
TEST(ServerPolicyTest, MalformedEntryRefusesEveryServer) {
    const char* bad =
        "10.0.0.0/ 10.0.0.0/x 10.0.0.0/8x 10.0.0.0/-1 10.0.0.0/+8 10.0.0.0/33 10.0.0.0/100 10.0.0.0/0008 "
        "10.0.0.0/8/8 10.0.0.0//8 ::/129 [::]/129 ::/1280 /8 localhost/8 10.0.0.1: 10.0.0.1:x 10.0.0.1:0 "
        "10.0.0.1:65536 10.0.0.1:123456 10.0.0.1:000080 10.0.0.1:80x 10.0.0.1:-80 10.0.0.1:80:90 10.0.0.0/8:x "
        "10.0.0.0/x:80 :80 localhost: localhost:0 -localhost local!host [::1 [::1:80 [] []:80 [::1]: "
        "[::1]:x [::1]:0 [::1]:65536 [::1]] [::1]/ [::1]/x [::1]/129:80 [::1]/64:80:90 [localhost]/8 "
        // Text after the bracket, read into the address, names another: ::1:80, ::1ab, ::180.
        "[::1]:80:90 [::1]ab [::1]80";
    for (const std::string& entry : words(bad)) {
        for (const std::string& allowed : {"127.0.0.1 " + entry, entry + ",0.0.0.0/0"}) {
            EXPECT_EQ(refusal(allowed.c_str(), "127.0.0.1:7549"),
                      notAllowed("127.0.0.1:7549") + ": the entry '" + entry +
                          "' of CORVANE_ALLOWED_SERVERS is not a host, address or range")
                << allowed;
        }
    }
    // The first bad entry is the one named; a bad server is still invalid.
    EXPECT_EQ(refusal("10.0.0.1:0 [::1", "h"),
              notAllowed("h") + ": the entry '10.0.0.1:0' of CORVANE_ALLOWED_SERVERS is not a host, address or range");
    EXPECT_EQ(refusal("10.0.0.0/x", "h:0"), "Invalid Corvane server 'h:0'");
}

TEST(ServerPolicyTest, WellFormedEntriesOfEveryShapeAreAccepted) {
    // Each paired with an entry that allows the server, so that only a
    // misread entry can refuse it.
    const char* good =
        "discovered DISCOVERED Discovered 10.0.0.1 10.0.0.1:7549 10.0.0.0/0 10.0.0.0/32:1 ::1 :: ::/0 "
        "::/128 fd00::1:5 [::1] [::1]:65535 [::]/0 [::1]/128 [::1/128] [::1/64]:80 [::1]/64:80 gw.example "
        "GW-1_x.example:80";
    for (const std::string& entry : words(good)) {
        const std::string allowed = entry + " 127.0.0.1";
        EXPECT_EQ(refusal(allowed.c_str(), "127.0.0.1:7549"), "") << allowed;
    }
}

TEST(ServerPolicyTest, DiscoveredAllowsExactlyTheServersDiscoveryLists) {
    const CorvaneInitGuard library;  // stops discovery at the end
    ASSERT_TRUE(library.ok());
    CorvaneTest::SimProcess listed(CorvaneTest::SimProcess::demoTree());
    CorvaneTest::SimProcess unlisted(CorvaneTest::SimProcess::demoTree(), {"--no-discovery"});
    ASSERT_TRUE(listed.started() && unlisted.started());
    ASSERT_TRUE(CorvaneTest::eventually([&] { return CorvaneServerHandle::isDiscovered(listed.host().c_str()); }));
    const std::string otherAddress = "127.0.0.2:" + std::to_string(listed.port()) + " 10.0.0.0/8";
    expectRows({
        {"discovered", {listed.host()}, {unlisted.host()}},
        {"DISCOVERED", {listed.host()}, {}},
        {"10.0.0.1, discovered", {listed.host()}, {}},
        {"10.0.0.1", {}, {listed.host()}},
        {otherAddress.c_str(), {}, {listed.host()}},
    });
}

// Runs in a death-test child: a mount namespace of its own, in which the
// hosts file also names IPv6 addresses and is the only place names are
// looked up. A request's host can not be an IPv6 literal, so it reaches
// one through a name, as on a real site; and a name that looks up to
// nothing fails at once, with no query sent anywhere.
// Returns the number of rows that failed, each told on standard error.
int failedLookupRows(const std::string& hostsFile, const std::string& nsswitchFile) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(hostsFile.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nsswitchFile.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0) {
        std::fprintf(stderr, "could not replace the hosts file: %s\n", std::strerror(errno));
        return 100;
    }
    const Row rows[] = {
        {"::1", {"one6"}, {"far6"}},
        {"[::1]:7549", {"one6:7549"}, {"one6:7548"}},
        {"::1/128", {"one6"}, {}},
        {"[::1/128]:7549", {"one6:7549"}, {}},
        {"::/0", {"far6"}, {"localhost"}},
        {"0.0.0.0/0", {}, {"far6", "nowhere"}},
        {"fc00::/7", {"far6"}, {}},
        {"fc00::/8", {}, {"far6"}},
        {"fd00::/120", {"far6"}, {"next6"}},
        {"fd00::4/127", {"far6"}, {"near6"}},
        {"fd00::5/128", {}, {"near6"}},
        {"fd00::1:0/112", {"next6"}, {}},
        {"fd00::1:8000/113", {}, {"next6"}},
        {"far6", {"far6"}, {"near6"}},
        {"FAR6-again", {"far6"}, {}},  // another name of the address
        {"one6", {}, {"far6"}},
        // Two names that look up to nothing are not one address.
        {"nowhere", {}, {"elsewhere", "nowhere.example", "127.0.0.1"}},
    };
    int failed = 0;
    for (const Row& row : rows) {
        for (const bool through : {true, false}) {
            for (const std::string& server : through ? row.through : row.refused) {
                if (refusal(row.allowed, server).empty() != through) {
                    std::fprintf(stderr, "'%s' against %s: %s\n", row.allowed, server.c_str(),
                                 through ? "refused" : "allowed");
                    ++failed;
                }
            }
        }
    }
    return failed;
}

TEST(ServerPolicyTest, Ipv6AddressesAndNamesThatLookUpToNothing) {
    CorvaneTest::TempDir dir;
    const std::string hosts = dir.write("hosts",
                                        "127.0.0.1 localhost\n"
                                        "::1 one6\n"
                                        "fd00::5 far6 far6-again\n"
                                        "fd00::6 near6\n"
                                        "fd00::1:5 next6\n");
    const std::string nsswitch = dir.write("nsswitch.conf", "hosts: files\n");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(failedLookupRows(hosts, nsswitch)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
