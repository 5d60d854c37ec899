#include "client/api/CorvaneDictionary.h"

#include <string>

#include "base/rcApi/rcAttrStream.h"

class CorvaneDictionary::Imp : public Corvane::rcAttrStream {
public:
    using Corvane::rcAttrStream::rcAttrStream;
};

CorvaneDictionary::CorvaneDictionary(const char* streamText) : imp_(std::make_unique<Imp>(streamText)) {}

CorvaneDictionary::CorvaneDictionary(const CorvaneDictionary& other) : imp_(std::make_unique<Imp>(*other.imp_)) {}

CorvaneDictionary& CorvaneDictionary::operator=(const CorvaneDictionary& other) {
    if (this != &other)
        *imp_ = *other.imp_;
    return *this;
}

CorvaneDictionary::~CorvaneDictionary() = default;

bool CorvaneDictionary::getStringAttribute(const char* name, CorvaneStr& value) const {
    std::string text;
    if (!imp_->getValue(name, text))
        return false;
    value = text.c_str();
    return true;
}

const char* CorvaneDictionary::c_str() const { return imp_->c_str(); }

bool CorvaneDictionary::operator==(const CorvaneDictionary& other) const { return *imp_ == *other.imp_; }
