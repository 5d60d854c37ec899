#include "base/env/EnvVar.h"

#include <cassert>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ostream>
#include <type_traits>

#include "base/env/EnvVarRegistry.h"

namespace Corvane {

namespace {

bool parseBool(const char* text) {
    return !(std::strcmp(text, "false") == 0 || std::strcmp(text, "FALSE") == 0 || std::strcmp(text, "0") == 0);
}

char* dupText(const char* text) { return strdup(text ? text : ""); }

// One lock for the first reads of every record. A std::mutex is constant
// initialised and needs no destruction, so records read before main or
// during exit still find it.
std::mutex& firstReadMutex() {
    static std::mutex mutex;
    return mutex;
}

void copyText(const char* text, char* buf, size_t size) {
    if (size == 0)
        return;
    std::strncpy(buf, text ? text : "", size - 1);
    buf[size - 1] = '\0';
}

template <typename T>
void setAllRegistrations(const char* name, int type, T value) {
    EnvVarRegistryImp& registry = EnvVarRegistryImp::getInstance();
    for (int i = 0; i < registry.count(); ++i) {
        BaseRegEnvVar* ev = registry.getEnvVar(i);
        if (std::strcmp(ev->getName(), name) != 0)
            continue;
        assert(ev->getType() == type && "ev->getType() == getType()");
        (void)type;
        ev->dynSetValue(value);
    }
}

}  // namespace

int leadingDigits(const char* text) {
    int value = 0;
    for (; text && *text >= '0' && *text <= '9'; ++text) {
        const int digit = *text - '0';
        if (value > (INT_MAX - digit) / 10)
            return INT_MAX;
        value = value * 10 + digit;
    }
    return value;
}

// What differs between the three record types.
template <typename T>
struct Ops {
    using SetArg = T;  // what a registration's dynSetValue takes
    static void assign(T& value, T from) { value = from; }
    static void fromEnv(T& value, const char* text) {
        if (std::is_same<T, bool>::value)
            value = parseBool(text);
        else
            value = static_cast<T>(leadingDigits(text));
    }
    static T get(T value) { return value; }
    static T toSetArg(T value) { return value; }
    static bool equal(T a, T b) { return a == b; }
    static void release(T&) {}
};

template <>
struct Ops<std::string> {
    using SetArg = const std::string&;
    static void assign(char*& value, const char* from) {
        char* copy = dupText(from);
        std::free(value);
        value = copy;
    }
    static void fromEnv(char*& value, const char* text) { assign(value, text); }
    static const char* get(const char* value) { return value ? value : ""; }
    static std::string toSetArg(const char* value) { return value ? value : ""; }
    static bool equal(const char* a, const char* b) { return std::strcmp(get(a), get(b)) == 0; }
    static void release(char*& value) {
        std::free(value);
        value = nullptr;
    }
};

// ---- EnvVar<T>

template <typename T>
int EnvVar<T>::typeCode() {
    if (std::is_same<T, std::string>::value)
        return kEnvVarString;
    return std::is_same<T, bool>::value ? kEnvVarBool : kEnvVarInt;
}

template <typename T>
EnvVar<T>::~EnvVar() {
    Ops<T>::release(value_);
    // A late exit handler that still reads a destroyed string record gets
    // the empty text instead of a fresh copy nobody frees.
    initialised_.store(true, std::memory_order_release);
}

template <typename T>
void EnvVar<T>::firstRead() {
    std::lock_guard<std::mutex> guard(firstReadMutex());
    if (initialised_.load(std::memory_order_relaxed))
        return;  // another thread was first
    const char* text = std::getenv(name_);
    if (text)
        Ops<T>::fromEnv(value_, text);
    else
        Ops<T>::assign(value_, default_);
    initialised_.store(true, std::memory_order_release);
}

template <typename T>
typename EnvVar<T>::Get EnvVar<T>::getValue() {
    ensureRead();
    return Ops<T>::get(value_);
}

template <typename T>
typename EnvVar<T>::Get EnvVar<T>::getDefault() {
    return Ops<T>::get(default_);
}

template <typename T>
bool EnvVar<T>::isDefault() {
    ensureRead();
    return Ops<T>::equal(value_, default_);
}

template <typename T>
void EnvVar<T>::dynSet(Get value) {
    ensureRead();
    if (locked_)
        return;
    Ops<T>::assign(value_, value);
    if (callback_)
        callback_(callbackArg_);
}

template <typename T>
void EnvVar<T>::setValue(Get value) {
    ensureRead();
    // Copied first: for strings, value may point into this record.
    auto arg = Ops<T>::toSetArg(value);
    setAllRegistrations<typename Ops<T>::SetArg>(name_, typeCode(), arg);
}

template class EnvVar<bool>;
template class EnvVar<int>;
template class EnvVar<std::string>;

// ---- registrations

void BaseRegEnvVar::dynSetValue(bool) { assert(!"dynSetValue(bool) on a registration of another type"); }
void BaseRegEnvVar::dynSetValue(int) { assert(!"dynSetValue(int) on a registration of another type"); }
void BaseRegEnvVar::dynSetValue(float) { assert(!"dynSetValue(float) on a registration of another type"); }
void BaseRegEnvVar::dynSetValue(const std::string&) {
    assert(!"dynSetValue(string) on a registration of another type");
}

template <typename T>
RegEnvVar<T>::RegEnvVar(const char* sourceFile, EnvVar<T>& var) : BaseRegEnvVar(sourceFile), var_(var) {
    var_.ensureRead();
    EnvVarRegistryImp::getInstance().add(this);
}

template <typename T>
RegEnvVar<T>::~RegEnvVar() {
    EnvVarRegistryImp::getInstance().remove(this);
    var_.forget();
}

namespace {

// A bool as "true" or "false", an int in decimal.
template <typename T>
void formatValue(T value, char* buf, size_t size) {
    if (std::is_same<T, bool>::value)
        copyText(value ? "true" : "false", buf, size);
    else if (size > 0)
        std::snprintf(buf, size, "%d", static_cast<int>(value));
}

}  // namespace

template <typename T>
void RegEnvVar<T>::getValueAsStr(char* buf, size_t size) const {
    formatValue(var_.getValue(), buf, size);
}

template <typename T>
void RegEnvVar<T>::getDefaultAsStr(char* buf, size_t size) const {
    formatValue(var_.getDefault(), buf, size);
}

template <typename T>
void RegEnvVar<T>::print(std::ostream& out) const {
    // A bool prints as 1 or 0; an int in the stream's current base.
    if (std::is_same<T, bool>::value)
        out << (var_.getValue() ? 1 : 0);
    else
        out << static_cast<int>(var_.getValue());
}

template <typename T>
void RegEnvVar<T>::dynSetValue(T value) {
    var_.dynSet(value);
}

template class RegEnvVar<bool>;
template class RegEnvVar<int>;

RegEnvVar<std::string>::RegEnvVar(const char* sourceFile, EnvVar<std::string>& var)
    : BaseRegEnvVar(sourceFile), var_(var) {
    var_.ensureRead();
    EnvVarRegistryImp::getInstance().add(this);
}

RegEnvVar<std::string>::~RegEnvVar() {
    EnvVarRegistryImp::getInstance().remove(this);
    var_.forget();
}

void RegEnvVar<std::string>::getValueAsStr(char* buf, size_t size) const { copyText(var_.getValue(), buf, size); }

void RegEnvVar<std::string>::getDefaultAsStr(char* buf, size_t size) const { copyText(var_.getDefault(), buf, size); }

void RegEnvVar<std::string>::print(std::ostream& out) const { out << var_.getValue(); }

void RegEnvVar<std::string>::dynSetValue(const std::string& value) { var_.dynSet(value.c_str()); }

}  // namespace Corvane
