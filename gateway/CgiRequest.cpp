#include "CgiRequest.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "RequestIo.h"
#include "base/env/EnvVar.h"
#include "base/osal/CoUser.h"

namespace {

// Hex digit value, without any validity check: a non-hexadecimal pair
// decodes to whatever this gives, modulo 256.
int digitValue(char c) {
    const signed char s = static_cast<signed char>(c);
    return s > 0x40 ? (s & ~0x20) - 55 : s - 48;
}

std::string userName(const RequestIo& io) {
    if (const char* user = io.variable("REMOTE_USER"))
        return user;
    std::string name;
    return Corvane::CoUser::userName(geteuid(), &name) && !name.empty() ? name : "unknown";
}

}  // namespace

CgiRequest::CgiRequest(int argc, char** argv, RequestIo& io) : remoteUser_(userName(io)) {
    readArguments(argc, argv);
    readVariables(io);
}

std::string CgiRequest::get(const std::string& name) const {
    auto it = params_.find(name);
    return it == params_.end() ? std::string() : it->second;
}

std::string CgiRequest::parameterWithNul() const {
    for (const auto& param : params_)
        if (param.second.find('\0') != std::string::npos)
            return param.first;
    return std::string();
}

void CgiRequest::store(const std::string& name, const std::string& value) {
    std::string& stored = params_[name];
    if (stored.empty())
        stored = value;
    else
        stored.append(":").append(value);
}

std::string CgiRequest::decode(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size()) {
            const int byte = 16 * digitValue(value[i + 1]) + digitValue(value[i + 2]);
            out.push_back(static_cast<char>(static_cast<unsigned>(byte) & 0xff));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

void CgiRequest::readArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {  // argv[0] is the program's path
        const char* eq = std::strchr(argv[i], '=');
        if (!eq)
            continue;
        store(std::string(argv[i], static_cast<size_t>(eq - argv[i])), decode(eq + 1));
    }
}

void CgiRequest::readVariables(RequestIo& io) {
    const char* method = io.variable("REQUEST_METHOD");
    if (!method)
        return;
    std::string input;
    if (std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0) {
        const char* query = io.variable("QUERY_STRING");
        input = query ? query : "";
    } else if (std::strcmp(method, "POST") == 0) {
        if (!readPostBody(io, &input))
            return;
    } else {
        io.err("Unsupported request method.");
        return;
    }
    parseInput(std::move(input));
}

bool CgiRequest::readPostBody(RequestIo& io, std::string* body) {
    const char* type = io.variable("CONTENT_TYPE");
    if (!type || strcasecmp(type, "application/x-www-form-urlencoded") != 0) {
        io.err("Unsupported content type.");
        return false;
    }
    const long long length = Corvane::leadingDigits(io.variable("CONTENT_LENGTH"));
    if (length == 0) {
        io.err("No content length was sent with the POST request");
        return false;
    }
    if (length > kMaxContentLength) {
        io.err("Out of memory");
        return false;
    }
    try {
        body->resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        io.err("Out of memory");
        return false;
    }
    // A body cut short ends without a system error: the text then says so
    // ("Success") rather than whatever an earlier call left in errno.
    errno = 0;
    const size_t got = io.readBody(&(*body)[0], body->size());
    if (got != body->size()) {
        const int err = errno;
        // A body withheld past its time fails the request as a whole.
        if (err == ETIMEDOUT)
            failure_ = "Unable to read CGI input: timed out";
        else
            io.err(std::string("Unable to read CGI input: ") + std::strerror(err) + ".");
        return false;
    }
    // The body ends at its first NUL, as a C string would.
    body->resize(std::strlen(body->c_str()));
    return true;
}

void CgiRequest::parseInput(std::string input) {
    for (char& c : input)
        if (c == '+')
            c = ' ';
    std::vector<std::string> tokens;
    splitString(input, tokens, "&;");
    for (const std::string& token : tokens) {
        const size_t eq = token.find('=');
        if (eq == std::string::npos)
            continue;
        store(token.substr(0, eq), decode(token.substr(eq + 1)));
    }
}

void CgiRequest::splitString(const std::string& text, std::vector<std::string>& list, const char* delimiters) {
    // A byte at a time against a table: the searches of std::string measure
    // the delimiters anew for every byte.
    bool isDelimiter[256] = {};
    for (const char* d = delimiters; *d; ++d)
        isDelimiter[static_cast<unsigned char>(*d)] = true;
    const size_t size = text.size();
    size_t at = 0;
    while (at < size) {
        while (at < size && isDelimiter[static_cast<unsigned char>(text[at])])
            ++at;
        const size_t start = at;
        while (at < size && !isDelimiter[static_cast<unsigned char>(text[at])])
            ++at;
        if (at > start)
            list.emplace_back(text, start, at - start);
    }
}

std::vector<std::string> CgiRequest::splitList(const std::string& text) {
    std::vector<std::string> list;
    splitString(text, list, ",");
    return list;
}

size_t CgiRequest::countList(const std::string& text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != ',' && (i == 0 || text[i - 1] == ','))
            ++count;
    return count;
}
