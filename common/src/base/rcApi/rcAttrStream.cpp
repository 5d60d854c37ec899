#include "base/rcApi/rcAttrStream.h"

#include <cassert>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcTextScan.h"

namespace Corvane {

const char* const illegalAttributeChars = " ";

namespace {

constexpr size_t kShortValueSize = 64;  // typed values are converted from at most 63 bytes

bool sameName(const rcAttrStream::Entry& e, const char* attr, size_t attrLen) {
    return e.nameLen == attrLen && std::memcmp(e.name, attr, attrLen) == 0;
}

int clampInt(size_t n) { return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

}  // namespace

// ---------------------------------------------------------------- reading

int rcAttrStream::readEntry(const char* text, size_t size, size_t* pos, Entry* entry) {
    for (;;) {
        const size_t p = *pos;
        if (p >= size)
            return 0;
        const char* blank = static_cast<const char*>(std::memchr(text + p, ' ', size - p));
        if (!blank)
            return 0;
        const size_t nameEnd = static_cast<size_t>(blank - text);
        size_t digits = nameEnd + 1;
        while (digits < size && text[digits] == ' ')
            ++digits;
        const char* lenEnd =
            digits < size ? static_cast<const char*>(std::memchr(text + digits, ' ', size - digits)) : nullptr;
        if (!lenEnd) {
            CO_ERROR("Error parsing attribute stream.");
            return -1;
        }
        const long len = rcText::scanLong(text + digits, lenEnd);
        const size_t valueStart = static_cast<size_t>(lenEnd - text) + 1;
        // A length that points outside the text would make the reader run
        // off its end or backwards: the rest of the text is unusable.
        if (len < 0 || static_cast<unsigned long>(len) > size - valueStart) {
            CO_ERROR("Error parsing attribute stream.");
            return -1;
        }
        *pos = valueStart + static_cast<size_t>(len);
        if (nameEnd == p)
            continue;  // a removed entry
        entry->name = text + p;
        entry->nameLen = nameEnd - p;
        entry->value = text + valueStart;
        entry->valueLen = static_cast<size_t>(len);
        entry->start = p;
        return 1;
    }
}

rcAttrStream::ConstIterator::ConstIterator(const rcAttrStream& stream) : text_(stream.stream_) {}

void rcAttrStream::ConstIterator::reset(const rcAttrStream& stream) {
    text_ = stream.stream_;
    pos_ = 0;
}

bool rcAttrStream::ConstIterator::next(Entry& entry) {
    return readEntry(text_.data(), text_.size(), &pos_, &entry) > 0;
}

rcAttrStream::Iterator::Iterator(rcAttrStream& stream) : ConstIterator(stream), owner_(&stream) {}

void rcAttrStream::Iterator::reset(rcAttrStream& stream) {
    ConstIterator::reset(stream);
    owner_ = &stream;
    haveLast_ = false;
}

bool rcAttrStream::Iterator::find(const char* attr) {
    assert(attr != 0 && "attr != 0");
    const size_t attrLen = std::strlen(attr);
    Entry e;
    while (next(e)) {
        if (sameName(e, attr, attrLen)) {
            last_ = e;
            haveLast_ = true;
            return true;
        }
    }
    haveLast_ = false;
    return false;
}

void rcAttrStream::Iterator::remove() {
    if (!haveLast_ || !owner_)
        return;
    haveLast_ = false;
    std::string& target = owner_->stream_;
    // The owner only ever grows at its end or blanks names in place, so the
    // entry is where the snapshot saw it unless the text was replaced whole.
    if (last_.start + last_.nameLen > target.size() ||
        target.compare(last_.start, last_.nameLen, last_.name, last_.nameLen) != 0)
        return;
    target.replace(last_.start, last_.nameLen, last_.nameLen, ' ');
    owner_->changed();
}

// ---------------------------------------------------------------- stream

rcAttrStream::rcAttrStream(const char* text) : stream_(text ? text : "") {}

rcAttrStream::rcAttrStream(std::string text) : stream_(std::move(text)) {}

void rcAttrStream::assign(std::string text) {
    stream_ = std::move(text);
    changed();
}

void rcAttrStream::changed() {
    cursorPos_ = 0;
    cursorSteps_ = 0;
}

bool rcAttrStream::find(const char* attr, Entry* entry) const {
    assert(attr != 0 && "attr != 0");
    const size_t attrLen = std::strlen(attr);
    const char* text = stream_.data();
    const size_t size = stream_.size();
    const size_t start = cursorPos_ <= size ? cursorPos_ : size;
    Entry e;
    size_t pos = start;
    while (readEntry(text, size, &pos, &e) > 0) {
        ++cursorSteps_;
        if (sameName(e, attr, attrLen)) {
            cursorPos_ = pos;
            *entry = e;
            return true;
        }
    }
    // Wrap around: the entries before the starting point.
    pos = 0;
    while (pos < start && readEntry(text, size, &pos, &e) > 0 && e.start < start) {
        ++cursorSteps_;
        if (sameName(e, attr, attrLen)) {
            cursorPos_ = pos;
            *entry = e;
            return true;
        }
    }
    cursorPos_ = start;
    return false;
}

void rcAttrStream::addStringValue(const char* attr, const char* v) {
    assert(attr != 0 && "attr != 0");
    assert(v != 0 && "v != 0");
    const size_t bad = std::strcspn(attr, illegalAttributeChars);
    if (attr[bad] != '\0') {
        CO_ERROR("Illegal character: '%c' in attribute '%s'.", attr[bad], attr);
        assert(!"attribute name without illegal characters");
        return;
    }
    const size_t attrLen = std::strlen(attr);
    // Only the first entry of that name goes: the writer never makes two.
    size_t pos = 0;
    Entry e;
    while (readEntry(stream_.data(), stream_.size(), &pos, &e) > 0) {
        if (sameName(e, attr, attrLen)) {
            stream_.replace(e.start, e.nameLen, e.nameLen, ' ');
            break;
        }
    }
    appendStringValue(attr, v);
}

void rcAttrStream::appendStringValue(const char* attr, const char* v) {
    assert(attr != 0 && "attr != 0");
    assert(v != 0 && "v != 0");
    assert(attr[std::strcspn(attr, illegalAttributeChars)] == '\0' && "attribute name without illegal characters");
    const size_t attrLen = std::strlen(attr);
    const size_t vLen = std::strlen(v);
    char length[32];
    const int n = std::snprintf(length, sizeof length, " %zu ", vLen);
    stream_.reserve(stream_.size() + attrLen + static_cast<size_t>(n) + vLen);
    stream_.append(attr, attrLen);
    stream_.append(length, static_cast<size_t>(n));
    stream_.append(v, vLen);
    changed();
}

void rcAttrStream::addIntValue(const char* attr, int v) {
    char buf[kShortValueSize];
    std::snprintf(buf, sizeof buf, "%d", v);
    addStringValue(attr, buf);
}

void rcAttrStream::addFloatValue(const char* attr, float v) {
    char buf[kShortValueSize];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    addStringValue(attr, buf);
}

void rcAttrStream::addBoolValue(const char* attr, bool v) { addStringValue(attr, v ? "1" : "0"); }

void rcAttrStream::addHex32Value(const char* attr, uint32_t v) {
    char buf[kShortValueSize];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned int>(v));
    addStringValue(attr, buf);
}

void rcAttrStream::addHex64Value(const char* attr, uint64_t v) {
    char buf[kShortValueSize];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    addStringValue(attr, buf);
}

bool rcAttrStream::getValue(const char* attr, std::string& out) const {
    Entry e;
    if (!find(attr, &e))
        return false;
    out.assign(e.value, e.valueLen);
    return true;
}

bool rcAttrStream::getStringValue(const char* attr, char* buf, size_t size) const {
    assert(buf != 0 && size > 0 && "buf != 0 && size > 0");
    Entry e;
    if (!find(attr, &e))
        return false;
    const size_t copied = e.valueLen < size ? e.valueLen : size;
    std::memcpy(buf, e.value, copied);
    buf[copied < size - 1 ? copied : size - 1] = '\0';
    return true;
}

bool rcAttrStream::getShortValue(const char* attr, char (&buf)[kShortValueSize]) const {
    Entry e;
    if (!find(attr, &e))
        return false;
    const size_t n = e.valueLen < kShortValueSize - 1 ? e.valueLen : kShortValueSize - 1;
    std::memcpy(buf, e.value, n);
    buf[n] = '\0';
    return true;
}

bool rcAttrStream::getIntValue(const char* attr, int& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = static_cast<int>(std::strtol(buf, nullptr, 10));
    return true;
}

bool rcAttrStream::getLongValue(const char* attr, long& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = std::strtol(buf, nullptr, 10);
    return true;
}

bool rcAttrStream::getInt8Value(const char* attr, int8_t& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = static_cast<int8_t>(std::strtol(buf, nullptr, 10));
    return true;
}

bool rcAttrStream::getFloatValue(const char* attr, float& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = static_cast<float>(std::strtod(buf, nullptr));
    return true;
}

bool rcAttrStream::getHex32Value(const char* attr, uint32_t& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = static_cast<uint32_t>(std::strtoul(buf, nullptr, 16));
    return true;
}

bool rcAttrStream::getHex64Value(const char* attr, uint64_t& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = static_cast<uint64_t>(std::strtoull(buf, nullptr, 16));
    return true;
}

bool rcAttrStream::getBoolValue(const char* attr, bool& out) const {
    char buf[kShortValueSize];
    if (!getShortValue(attr, buf))
        return false;
    out = rcText::wordToBool(buf);
    return true;
}

int rcAttrStream::count() const {
    int n = 0;
    size_t pos = 0;
    Entry e;
    while (readEntry(stream_.data(), stream_.size(), &pos, &e) > 0)
        ++n;
    return n;
}

bool rcAttrStream::isEmpty() const {
    size_t pos = 0;
    Entry e;
    return readEntry(stream_.data(), stream_.size(), &pos, &e) <= 0;
}

bool rcAttrStream::operator==(const rcAttrStream& other) const {
    if (stream_ == other.stream_)
        return true;
    if (count() != other.count())
        return false;
    size_t pos = 0;
    Entry mine;
    std::string name;
    while (readEntry(stream_.data(), stream_.size(), &pos, &mine) > 0) {
        name.assign(mine.name, mine.nameLen);
        Entry theirs;
        if (!other.find(name.c_str(), &theirs))
            return false;
        if (theirs.valueLen != mine.valueLen || std::memcmp(theirs.value, mine.value, mine.valueLen) != 0)
            return false;
    }
    return true;
}

void rcAttrStream::dump() const {
    CO_USER("Attribute Stream Dump");
    size_t pos = 0;
    Entry e;
    while (readEntry(stream_.data(), stream_.size(), &pos, &e) > 0)
        CO_USER("'%.*s': '%.*s'", clampInt(e.nameLen), e.name, clampInt(e.valueLen), e.value);
    CO_USER("Attribute Stream Dump Done");
}

std::string rcAttrStream::prettyString(int maxValueLen) const {
    const size_t m = maxValueLen < 3 ? 3 : static_cast<size_t>(maxValueLen);
    std::string result;
    std::vector<char> buf;  // reused; grows only when an entry needs more
    size_t pos = 0;
    Entry e;
    while (readEntry(stream_.data(), stream_.size(), &pos, &e) > 0) {
        const size_t size = e.nameLen + 4 + m;
        if (buf.size() < size)
            buf.resize(size);
        const int n =
            std::snprintf(buf.data(), size, "%.*s='%.*s'", clampInt(e.nameLen), e.name, clampInt(e.valueLen), e.value);
        size_t len = n < 0 ? 0 : static_cast<size_t>(n);
        if (len >= size) {
            // Cut: show that the value goes on.
            len = size - 1;
            std::memcpy(buf.data() + len - 4, "...'", 4);
        }
        for (size_t i = 0; i < len; ++i) {
            char& c = buf[i];
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
        }
        if (!result.empty())
            result += ' ';
        result.append(buf.data(), len);
    }
    return result;
}

void rcAttrStream::prettyDump(int maxValueLen) const {
    CO_USER("Attribute Stream Pretty Dump");
    CO_USER("%s", prettyString(maxValueLen).c_str());
    CO_USER("Attribute Stream Pretty Dump Done");
}

}  // namespace Corvane
