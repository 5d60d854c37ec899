#include "client/api/CorvaneMetaData.h"

#include <string>

#include "base/rcApi/rcAttrStream.h"

namespace CorvaneMetaData {

// The stream, and the texts handed out by the getters.
class Blob::Imp {
public:
    explicit Imp(const char* text) : stream(text) {}
    Corvane::rcAttrStream stream;
    std::string data;
    std::string format;
};

Blob::Blob(const char* streamText) : imp_(std::make_unique<Imp>(streamText)) {}

Blob::Blob(const char* data, const char* format, int majorVersion, int minorVersion)
    : imp_(std::make_unique<Imp>(nullptr)) {
    imp_->stream.addStringValue("FORMAT", format ? format : "");
    imp_->stream.addIntValue("VERSION_MAJOR", majorVersion);
    imp_->stream.addIntValue("VERSION_MINOR", minorVersion);
    imp_->stream.addStringValue("DATA", data ? data : "");
}

Blob::Blob(const Blob& other) : imp_(std::make_unique<Imp>(*other.imp_)) {}

Blob& Blob::operator=(const Blob& other) {
    if (this != &other)
        *imp_ = *other.imp_;
    return *this;
}

Blob::~Blob() = default;

const char* Blob::getFormat() const {
    return imp_->stream.getValue("FORMAT", imp_->format) ? imp_->format.c_str() : nullptr;
}

const char* Blob::getData() const { return imp_->stream.getValue("DATA", imp_->data) ? imp_->data.c_str() : nullptr; }

bool Blob::getVersion(int& major, int& minor) const {
    int ma = 0, mi = 0;
    if (!imp_->stream.getIntValue("VERSION_MAJOR", ma) || !imp_->stream.getIntValue("VERSION_MINOR", mi))
        return false;
    major = ma;
    minor = mi;
    return true;
}

const char* Blob::c_str() const { return imp_->stream.c_str(); }

}  // namespace CorvaneMetaData
