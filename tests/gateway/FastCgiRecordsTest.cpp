// The look at a connection's first records: what libfcgi may read without
// waiting, what must wait, and what it would fail on.
#include "FastCgiRecords.h"

#include <string>

#include <gtest/gtest.h>

#include "support/FastCgiClient.h"

namespace {

using CorvaneTest::FastCgiClient;
using Arrival = FastCgiArrival;

std::string begin(int id = 1, int role = 1) {
    return FastCgiClient::record(1, id, std::string{0, static_cast<char>(role), 0, 0, 0, 0, 0, 0});
}
std::string params(const std::string& content, int id = 1) { return FastCgiClient::record(4, id, content); }

TEST(FastCgiRecordsTest, RecordsBeforeTheBodyDecideTheArrival) {
    const std::string pair = params({1, 1, 'a', 'b'});  // a=b
    const std::string ended = pair + params("");
    std::string many = begin();
    for (int i = 0; i < 63; ++i)
        many += pair;
    std::string padded = begin() + params("");
    padded[padded.size() - 2] = 4;  // four bytes of padding, not there yet
    const std::string stale = FastCgiClient::record(5, 1, "body");
    struct Case {
        std::string bytes;
        bool kept;
        Arrival arrival;
        size_t need;  // checked when Waiting
        size_t stale;
    } cases[] = {
        {"", false, Arrival::Waiting, 8, 0},
        {begin().substr(0, 12), false, Arrival::Waiting, 16, 0},
        {begin(), false, Arrival::Waiting, 24, 0},
        {begin() + ended, false, Arrival::Complete, 0, 0},
        {begin(1, 3) + params(""), false, Arrival::Complete, 0, 0},
        {padded, false, Arrival::Waiting, padded.size() + 4, 0},
        {begin() + ended.substr(0, 10), false, Arrival::Waiting, 36, 0},
        // 65 records are looked at; one more is read by libfcgi.
        {many + params(""), false, Arrival::Complete, 0, 0},
        {many + pair + params(""), false, Arrival::Large, 0, 0},
        {begin() + params(std::string(0xffff, 'x')) + params("", 1), false, Arrival::Large, 0, 0},
        {(begin() + params(std::string(0xffff, 'x'))).substr(0, 1000), false, Arrival::Waiting, 65536, 0},
        {"\x02" + begin().substr(1), false, Arrival::Broken, 0, 0},
        {begin(0), false, Arrival::Broken, 0, 0},
        {FastCgiClient::record(1, 1, "short"), false, Arrival::Broken, 0, 0},
        {begin(1, 0), false, Arrival::Broken, 0, 0},
        {begin(1, 4), false, Arrival::Broken, 0, 0},
        {begin() + params("", 2), false, Arrival::Broken, 0, 0},
        {begin() + stale, false, Arrival::Broken, 0, 0},
        // A kept connection's unread records of the request before come
        // first, for the caller to drop; on a new one they are not allowed.
        {stale + begin() + params(""), true, Arrival::Waiting, 0, stale.size()},
        {stale + stale, true, Arrival::Waiting, 0, 2 * stale.size()},
        {stale.substr(0, 10), true, Arrival::Waiting, stale.size(), 0},
        {stale, false, Arrival::Broken, 0, 0},
        {FastCgiClient::record(9, 0, ""), true, Arrival::Broken, 0, 0},
    };
    for (const Case& c : cases) {
        size_t need = 0, stale = 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(scanFastCgiRecords(bytes, c.bytes.size(), c.kept, &need, &stale), c.arrival) << &c - cases;
        if (c.arrival == Arrival::Waiting && c.need) {
            EXPECT_EQ(need, c.need) << &c - cases;
        }
        EXPECT_EQ(stale, c.stale) << &c - cases;
    }
}

}  // namespace
