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
    expectRows({
        {{}, false},  // scripts and other servers send neither header
        {{{"HOST", "gw.example"}}, false},
        {{{"SEC_FETCH_SITE", "same-origin"}}, false},
        {{{"SEC_FETCH_SITE", "none"}}, false},  // typed into the address bar
        {{{"SEC_FETCH_SITE", "cross-site"}}, true},
        {{{"SEC_FETCH_SITE", "same-site"}}, true},
        {{{"SEC_FETCH_SITE", ""}}, true},
        {{{"SEC_FETCH_SITE", "Same-Origin"}}, true},
        {{{"SEC_FETCH_SITE", "same-origin "}}, true},
        {{{"SEC_FETCH_SITE", "same-origin"}, {"ORIGIN", "http://evil.example"}, {"HOST", "gw.example"}}, false},
        {{{"SEC_FETCH_SITE", "cross-site"}, {"ORIGIN", "http://gw.example"}, {"HOST", "gw.example"}}, true},
    });
}

TEST(OriginCheckTest, OriginMustNameTheHostAndPortTheRequestWentTo) {
    const auto row = [](const char* origin, const char* host, bool crossSite) {
        Headers headers{{"ORIGIN", origin}};
        if (host)
            headers["HOST"] = host;
        return Row{headers, crossSite};
    };
    expectRows({
        row("http://gw.example", "gw.example", false),
        row("http://gw.example", "gw.example:80", false),
        row("http://gw.example:80", "gw.example", false),
        row("http://gw.example:8080", "gw.example:8080", false),
        row("https://gw.example", "gw.example:443", false),
        row("https://gw.example:443", "gw.example:443", false),
        row("HTTPS://GW.Example", "gw.EXAMPLE:443", false),
        row("http://10.1.2.3:8080", "10.1.2.3:8080", false),
        row("http://gw.example", "gw.example:443", true),
        row("http://gw.example", "gw.example:8080", true),
        row("http://gw.example:8080", "gw.example", true),
        row("https://gw.example", "gw.example:80", true),
        row("https://gw.example:8443", "gw.example:443", true),
        row("httpsx://gw.example", "gw.example:443", true),
        row("http://evil.example", "gw.example", true),
        row("http://gw.example.evil.example", "gw.example", true),
        row("http://gw.exampl", "gw.example", true),
        row("http://xgw.example", "gw.example", true),
        row("http://gw.example", nullptr, true),
        row("http://gw.example", "", true),
        // Not an origin at all: sandboxed frames, files, forged values.
        row("null", "gw.example", true),
        row("", "gw.example", true),
        row("gw.example", "gw.example", true),
        row("http://", "gw.example", true),
        row("http://gw.example/", "gw.example", true),
        row("http://gw.example?", "gw.example", true),
        row("http://gw.example#", "gw.example", true),
        row("http://evil.example@gw.example", "gw.example", true),
        row("http://gw.example@evil.example", "gw.example", true),
        row("http://gw.example:", "gw.example", true),
        row("http://gw.example ", "gw.example", true),
    });
}

TEST(OriginCheckTest, Ipv6HostsCompareWithTheirPortOutsideTheBrackets) {
    const auto row = [](const char* origin, const char* host, bool crossSite) {
        return Row{{{"ORIGIN", origin}, {"HOST", host}}, crossSite};
    };
    expectRows({
        row("http://[::1]", "[::1]", false),
        row("http://[::1]", "[::1]:80", false),
        row("http://[::1]:80", "[::1]", false),
        row("http://[::1]:8080", "[::1]:8080", false),
        row("https://[FD00::1]", "[fd00::1]:443", false),
        row("http://[::1]:8080", "[::1]", true),
        row("http://[::1]", "[::1]:8080", true),
        row("http://[::1]", "[::2]", true),
        row("http://[::1]", "[::1]:443", true),
    });
}

TEST(OriginCheckTest, TrustedOriginsMatchWholeAndWithoutCase) {
    const Headers settings{{"CORVANE_TRUSTED_ORIGINS", " https://other.example\thttps://intranet.example:8443\n"}};
    const auto from = [](const char* origin, bool crossSite) {
        return Row{{{"ORIGIN", origin}, {"SEC_FETCH_SITE", "cross-site"}, {"HOST", "gw.example"}}, crossSite};
    };
    expectRows(
        {
            from("https://intranet.example:8443", false),
            from("HTTPS://Intranet.Example:8443", false),
            from("https://other.example", false),
            from("https://intranet.example", true),
            from("https://intranet.example:443", true),
            from("https://intranet.example:84", true),
            from("https://intranet.example:8443/", true),
            from("http://intranet.example:8443", true),
            from("https://other.example:443", true),
            from("https://other.example https://intranet.example:8443", true),
            from("", true),
            from("null", true),
            {{{"ORIGIN", "https://other.example"}, {"HOST", "gw.example"}}, false},
            {{{"SEC_FETCH_SITE", "cross-site"}, {"HOST", "other.example"}}, true},
        },
        settings);
    // Only the site says whom it trusts, never a header of the request.
    expectRows({{{{"ORIGIN", "https://other.example"},
                  {"SEC_FETCH_SITE", "cross-site"},
                  {"CORVANE_TRUSTED_ORIGINS", "https://other.example"}},
                 true}});
    expectRows({from("https://other.example", true)}, {{"CORVANE_TRUSTED_ORIGINS", ""}});
}

}  // namespace
