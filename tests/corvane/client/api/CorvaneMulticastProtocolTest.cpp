#include "client/api/CorvaneMulticastProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "support/MessageLog.h"

namespace {

using namespace CorvaneMulticastProtocol;
using Corvane::CoMsg;
using Corvane::rcAttrStream;
using Texts = std::vector<std::string>;

// "DisplayName:NodePort" of each record decoded from text.
Texts decoded(const std::string& text, const char* database = nullptr) {
    ServerList list;
    decodeServerList(text, list, database);
    Texts out;
    for (const CorvaneDaemonInfo& info : list)
        out.push_back(std::string(info.getDisplayName()) + ":" + std::to_string(info.getNodePort()));
    return out;
}

TEST(CorvaneMulticastProtocolTest, RequestsRoundTripAndAnyVersionButZeroIsRead) {
    EXPECT_EQ(encodeRequest(RequestType::FindServers, rcAttrStream()), "Version 1 1Type 2 74Data 0 ");
    const rcAttrStream payload("Hey 5 a 1 bDatabase 5 OBRAN");
    RequestType type;
    for (int t = 70; t <= 75; ++t) {
        rcAttrStream out("stale 1 x");
        ASSERT_TRUE(decodeRequest(encodeRequest(RequestType(t), payload).c_str(), type, out)) << t;
        EXPECT_TRUE(int(type) == t && out.str() == payload.str()) << t;
    }
    rcAttrStream out;
    EXPECT_TRUE(decodeRequest("Version 1 2Type 2 72Data 7 Hey 1 x", type, out) && out.str() == "Hey 1 x");
}

TEST(CorvaneMulticastProtocolTest, CorruptRequestsAreRefusedWithTheirError) {
    const std::string cut = "Version 1 1Type 2 71Data 2000 " + std::string(kMaxDatagramBytes - 30, 'n');
    const struct {
        std::string text, error;
        RequestType type;  // as left by the decoder
    } cases[] = {
        {"Type 2 71Data 0 ", "Request is lacking a version tag: Type 2 71Data 0 .", RequestType::Invalid},
        {"Version 1 0Type 2 71Data 0 ", "Request's version is incompatible: 0", RequestType::Invalid},
        {"Version 1 1Data 0 ", "Request is lacking a type tag: Version 1 1Data 0 .", RequestType::Invalid},
        {"Version 1 1Type 1 0Data 0 ", "Unknown request type: 0.", RequestType::Invalid},
        {"Version 1 1Type 2 76Data 0 ", "Unknown request type: 76.", RequestType::Invalid},
        {"Version 1 1Type 2 73", "Request is lacking data: Version 1 1Type 2 73.", RequestType::RemoveServer},
        // Longer than a receiver reads: arrives cut inside "Data".
        {cut, "Request is lacking data: " + cut + ".", RequestType::DiscoverServers},
    };
    for (const auto& c : cases) {
        CorvaneTest::MessageLog::Scope log;
        RequestType type = RequestType::Invalid;
        rcAttrStream payload("kept 1 y");
        EXPECT_FALSE(decodeRequest(c.text.c_str(), type, payload)) << c.text;
        const std::vector<std::string> errors = log->texts(CoMsg::error);
        EXPECT_EQ(errors.empty() ? "" : errors.back(), c.error) << c.text;
        EXPECT_TRUE(type == c.type && payload.str() == "kept 1 y") << c.text;
    }
}

TEST(CorvaneMulticastProtocolTest, ServerListsFilterDefaultThePortAndSkipMissingNodes) {
    ServerList servers;
    for (const char* record :
         {"DisplayName 1 ADatabase 5 OBRANNodePort 4 7000", "DisplayName 1 B", "DisplayName 1 CDatabase 5 OBRAN"})
        servers.emplace_back(rcAttrStream(record));
    const std::string text = encodeServerList(servers);
    EXPECT_EQ(text.rfind("Count 1 3Node0 ", 0), 0u) << text;
    EXPECT_EQ(decoded(text), (Texts{"A:7000", "B:7549", "C:7549"}));
    EXPECT_EQ(decoded(text, ""), decoded(text));
    EXPECT_EQ(decoded(text, "OBRAN"), (Texts{"A:7000", "C:7549"}));

    CorvaneTest::MessageLog::Scope log;
    std::string missing = text;
    missing.replace(missing.find("Node1 "), 5, "     ");  // a removed entry
    EXPECT_EQ(decoded(missing), (Texts{"A:7000", "C:7549"}));
    EXPECT_EQ(log->texts(CoMsg::error), Texts{"Stream is missing node 1 of 3."});
    // A forged count neither floods the log nor keeps the decoder busy.
    missing.replace(0, 9, "Count 10 2000000000");
    log->clear();
    EXPECT_EQ(decoded(missing).size(), 2u);
    EXPECT_EQ(log->texts(CoMsg::error).size(), 32u);
    log->clear();
    EXPECT_EQ(decoded("Count 1 0Node0 0 "), Texts{});
    EXPECT_EQ(log->texts(CoMsg::debugging), Texts{"Stream does not have any nodes."});
    EXPECT_EQ(log->texts().size(), 1u);
}

}  // namespace
