// The request's parameters, from `name=value` command-line arguments and
// then from the CGI environment (GET/HEAD query string or a url-encoded POST
// body), joined into one table. Complaints about the request go to standard
// error and never stop the process.
#pragma once

#include <map>
#include <string>
#include <vector>

class CgiRequest {
public:
    // A POST body larger than this is refused as "Out of memory" rather
    // than allocated: no form this gateway serves comes near it.
    static constexpr long long kMaxContentLength = 16LL * 1024 * 1024;

    CgiRequest(int argc, char** argv);

    // The value stored under name; empty when absent.
    std::string get(const std::string& name) const;

    // REMOTE_USER as given (empty included), else the effective user's login
    // name, else "unknown".
    static std::string remoteUserName();

    // Appends the non-empty tokens of text separated by any of delimiters.
    static void splitString(const std::string& text, std::vector<std::string>& list, const char* delimiters);

    // Percent-decodes value; a "%" with fewer than two characters after it
    // is kept as it stands.
    static std::string decode(const std::string& value);

private:
    void store(const std::string& name, const std::string& value);
    void readArguments(int argc, char** argv);
    void readEnvironment();
    bool readPostBody(std::string* body);
    void parseInput(std::string input);

    std::map<std::string, std::string> params_;
};
