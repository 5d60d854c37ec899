// Internal to the gateway.
// The request's parameters, from `name=value` command-line arguments and
// then from the CGI variables of the request (GET/HEAD query string or a
// url-encoded POST body), joined into one table. Complaints about the
// request go to the request's error stream and never stop it.
#pragma once

#include <map>
#include <string>
#include <vector>

class RequestIo;

class CgiRequest {
public:
    // A POST body larger than this is refused as "Out of memory" rather
    // than allocated: no form this gateway serves comes near it.
    static constexpr long long kMaxContentLength = 16LL * 1024 * 1024;

    // Reads the arguments after argv[0], the program's path, then the
    // variables and the body through io, which must outlive the
    // constructor only.
    CgiRequest(int argc, char** argv, RequestIo& io);

    // The value stored under name; empty when absent.
    std::string get(const std::string& name) const;

    // The name of the first parameter whose value holds a NUL byte; empty
    // when none does.
    std::string parameterWithNul() const;

    // Why the request can not be served whatever its parameters (a body
    // that did not arrive in time); empty when nothing is wrong.
    const std::string& failure() const { return failure_; }

    // REMOTE_USER as given (empty included), else the effective user's login
    // name, else "unknown".
    const std::string& remoteUserName() const { return remoteUser_; }

    // Appends the non-empty tokens of text separated by any of delimiters.
    static void splitString(const std::string& text, std::vector<std::string>& list, const char* delimiters);
    // The non-empty tokens of a comma-separated parameter.
    static std::vector<std::string> splitList(const std::string& text);
    // How many there are, without making them.
    static size_t countList(const std::string& text);

    // Percent-decodes value; a "%" with fewer than two characters after it
    // is kept as it stands.
    static std::string decode(const std::string& value);

private:
    void store(const std::string& name, const std::string& value);
    void readArguments(int argc, char** argv);
    void readVariables(RequestIo& io);
    bool readPostBody(RequestIo& io, std::string* body);
    void parseInput(std::string input);

    std::map<std::string, std::string> params_;
    std::string remoteUser_;
    std::string failure_;
};
