// Which requests come from another site's page: what a browser says in
// Sec-Fetch-Site, or in an Origin against the request's Host, and the
// origins a site trusts in CORVANE_TRUSTED_ORIGINS.
#include "Refusals.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "RequestIo.h"

namespace {

using Headers = std::map<std::string, std::string>;

// A request's variables and the site's settings, kept apart.
class HeaderIo : public RequestIo {
public:
    HeaderIo(const Headers& variables, const Headers& settings) : variables_(variables), settings_(settings) {}
    const char* variable(const char* name) const override { return find(variables_, name); }
    const char* setting(const char* name) const override { return find(settings_, name); }
    size_t readBody(char*, size_t) override { return 0; }
    void out(const char*, size_t) override {}
    void err(const char*, size_t) override {}

private:
    static const char* find(const Headers& map, const char* name) {
        const auto it = map.find(name);
        return it == map.end() ? nullptr : it->second.c_str();
    }
    Headers variables_, settings_;
};

struct Row {
    Headers headers;  // HTTP_ variables without the prefix
    bool crossSite;
};

void expectRows(const std::vector<Row>& rows, const Headers& settings = {}) {
    for (const Row& row : rows) {
        Headers variables;
        std::string shown;
        for (const auto& header : row.headers) {
            variables["HTTP_" + header.first] = header.second;
            shown += header.first + "=" + header.second + " ";
        }
        EXPECT_EQ(isCrossSiteRequest(HeaderIo(variables, settings)), row.crossSite) << shown;
    }
}

TEST(OriginCheckTest, SecFetchSiteDecidesWhenTheBrowserSendsIt) {
    std::vector<Row> rows{
        {{}, false},  // scripts and other servers send neither header
        {{{"HOST", "gw.example"}}, false},
        {{{"SEC_FETCH_SITE", "same-origin"}, {"ORIGIN", "http://evil.example"}, {"HOST", "gw.example"}}, false},
        {{{"SEC_FETCH_SITE", "cross-site"}, {"ORIGIN", "http://gw.example"}, {"HOST", "gw.example"}}, true},
    };
    // "none": typed into the address bar.
    for (const char* site : {"same-origin", "none"})
        rows.push_back({{{"SEC_FETCH_SITE", site}}, false});
    for (const char* site : {"cross-site", "same-site", "", "Same-Origin", "same-origin "})
        rows.push_back({{{"SEC_FETCH_SITE", site}}, true});
    expectRows(rows);
}

TEST(OriginCheckTest, OriginMustNameTheHostAndPortTheRequestWentTo) {
    // A Host (null: none sent), the origins that name it and those that do
    // not. IPv6 hosts have their port outside the brackets.
    const struct {
        const char* host;
        std::vector<const char*> same, cross;
    } hosts[] = {
        {"gw.example",
         {"http://gw.example", "http://gw.example:80"},
         {"http://gw.example:8080", "http://evil.example", "http://gw.example.evil.example", "http://gw.exampl",
          "http://xgw.example",
          // Not an origin at all: sandboxed frames, files, forged values.
          "null", "", "gw.example", "http://", "http://gw.example/", "http://gw.example?", "http://gw.example#",
          "http://evil.example@gw.example", "http://gw.example@evil.example",
          "http://gw.example:", "http://gw.example "}},
        {"gw.example:80", {"http://gw.example"}, {"https://gw.example"}},
        {"gw.example:8080", {"http://gw.example:8080"}, {"http://gw.example"}},
        {"gw.example:443",
         {"https://gw.example", "https://gw.example:443"},
         {"http://gw.example", "https://gw.example:8443", "httpsx://gw.example"}},
        {"gw.EXAMPLE:443", {"HTTPS://GW.Example"}, {}},
        {"10.1.2.3:8080", {"http://10.1.2.3:8080"}, {}},
        {nullptr, {}, {"http://gw.example"}},
        {"", {}, {"http://gw.example"}},
        {"[::1]", {"http://[::1]", "http://[::1]:80"}, {"http://[::1]:8080"}},
        {"[::1]:80", {"http://[::1]"}, {}},
        {"[::1]:8080", {"http://[::1]:8080"}, {"http://[::1]"}},
        {"[fd00::1]:443", {"https://[FD00::1]"}, {}},
        {"[::2]", {}, {"http://[::1]"}},
        {"[::1]:443", {}, {"http://[::1]"}},
    };
    std::vector<Row> rows;
    for (const auto& h : hosts) {
        for (const bool crossSite : {false, true}) {
            for (const char* origin : crossSite ? h.cross : h.same) {
                Headers headers{{"ORIGIN", origin}};
                if (h.host)
                    headers["HOST"] = h.host;
                rows.push_back({headers, crossSite});
            }
        }
    }
    expectRows(rows);
}

TEST(OriginCheckTest, TrustedOriginsMatchWholeAndWithoutCase) {
    const Headers settings{{"CORVANE_TRUSTED_ORIGINS", " https://other.example\thttps://intranet.example:8443\n"}};
    const auto from = [](const char* origin, bool crossSite) {
        return Row{{{"ORIGIN", origin}, {"SEC_FETCH_SITE", "cross-site"}, {"HOST", "gw.example"}}, crossSite};
    };
    std::vector<Row> rows{
        {{{"ORIGIN", "https://other.example"}, {"HOST", "gw.example"}}, false},
        {{{"SEC_FETCH_SITE", "cross-site"}, {"HOST", "other.example"}}, true},
    };
    for (const char* origin :
         {"https://intranet.example:8443", "HTTPS://Intranet.Example:8443", "https://other.example"})
        rows.push_back(from(origin, false));
    for (const char* origin :
         {"https://intranet.example", "https://intranet.example:443", "https://intranet.example:84",
          "https://intranet.example:8443/", "http://intranet.example:8443", "https://other.example:443",
          "https://other.example https://intranet.example:8443", "", "null"})
        rows.push_back(from(origin, true));
    expectRows(rows, settings);
    // Only the site says whom it trusts, never a header of the request.
    expectRows({{{{"ORIGIN", "https://other.example"},
                  {"SEC_FETCH_SITE", "cross-site"},
                  {"CORVANE_TRUSTED_ORIGINS", "https://other.example"}},
                 true}});
    expectRows({from("https://other.example", true)}, {{"CORVANE_TRUSTED_ORIGINS", ""}});
}

}  // namespace
