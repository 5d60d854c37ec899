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

int CorvaneDictionary::size() const { return imp_->count(); }

bool CorvaneDictionary::getAttribute(int index, CorvaneStr& name, CorvaneStr& value) const {
    if (index < 0)
        return false;
    Corvane::rcAttrStream::ConstIterator it(*imp_);
    Corvane::rcAttrStream::Entry entry;
    for (int i = 0; it.next(entry); ++i) {
        if (i == index) {
            name = std::string(entry.name, entry.nameLen).c_str();
            value = std::string(entry.value, entry.valueLen).c_str();
            return true;
        }
    }
    return false;
}

CorvaneStr CorvaneDictionary::toText() const { return CorvaneStr(imp_->prettyString(kTextValueBytes).c_str()); }

const char* CorvaneDictionary::c_str() const { return imp_->c_str(); }

bool CorvaneDictionary::operator==(const CorvaneDictionary& other) const { return *imp_ == *other.imp_; }
