#include "client/api/CorvaneServerId.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

CorvaneServerId::CorvaneServerId(const char* text) {
    if (!text || !*text)
        return;
    string_ = text;
    const char* colon = std::strchr(text, ':');
    if (!colon) {
        host_ = text;
        return;
    }
    host_ = std::string(text, static_cast<size_t>(colon - text)).c_str();
    const long port = std::strtol(colon + 1, nullptr, 10);
    if (port != 0)
        port_ = static_cast<int>(port);
    else
        database_ = colon + 1;
}

CorvaneServerId::CorvaneServerId(const char* database, const char* host, int port)
    : host_(host), database_(database), port_(port) {
    if (port_ == 0 && database_.isEmpty())
        string_ = host_;
}

CorvaneServerId::CorvaneServerId(int port, const char* host) : host_(host), port_(port) {
    if (port_ == 0)
        string_ = host_;
}

void CorvaneServerId::setHost(const char* host) {
    host_ = host;
    string_.freeBuff();
}

void CorvaneServerId::setDatabase(const char* database) {
    database_ = database;
    string_.freeBuff();
}

void CorvaneServerId::setPort(int port) {
    port_ = port;
    string_.freeBuff();
}

const char* CorvaneServerId::getStr() const {
    if (string_.isEmpty()) {
        char text[1024];
        if (!database_.isEmpty())
            std::snprintf(text, sizeof text, "%s%c%s", host_.c_str(), ':', database_.c_str());
        else
            std::snprintf(text, sizeof text, "%s%c%d", host_.c_str(), ':', port_);
        string_ = text;
    }
    return string_.c_str();
}

bool CorvaneServerId::isValid() const {
    return port_ != 0 || !string_.isEmpty() || !host_.isEmpty() || !database_.isEmpty() || !storageId_.isEmpty();
}

bool CorvaneServerId::operator==(const CorvaneServerId& other) const {
    return port_ == other.port_ && host_ == other.host_ && database_ == other.database_ &&
           storageId_ == other.storageId_;
}
