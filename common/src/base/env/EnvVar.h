// Declared run-time settings read from the environment.
//
// A module declares each setting as a namespace-scope EnvVar<T> record and
// lists it in the process-wide registry with a RegEnvVar<T> beside it:
//
//     static Corvane::EnvVar<bool> traceVar("XQ_CORVANE_TRACE", false);
//     static Corvane::RegEnvVar<bool> traceReg(__FILE__, traceVar);
//
// EnvVar has a constexpr constructor, so records are ready before any
// static constructor runs and registrations may be made in any order.
// The record is read from the environment on first use, by whichever thread
// comes first (the trace setting is read per call, on any thread): the first
// read is made once, under a lock, and published through an atomic flag.
// Run-time changes go through setValue() or a registration's dynSetValue()
// and are made at configuration time, before other threads read.
#pragma once

#include <atomic>
#include <iosfwd>
#include <string>

namespace Corvane {

// A setting's number: its leading decimal digits only (a blank or a sign is
// no digit; no digits, or null, read as 0). Too many digits stop at INT_MAX.
int leadingDigits(const char* text);

// Type codes reported by a registration.
enum EnvVarTypeCode : int { kEnvVarString = 1, kEnvVarBool = 2, kEnvVarInt = 3 };

template <typename T>
struct EnvVarStorage {
    using Value = T;
    using Default = T;
    using Get = T;
};

// String settings keep a heap copy of their text.
template <>
struct EnvVarStorage<std::string> {
    using Value = char*;
    using Default = const char*;
    using Get = const char*;
};

template <typename T>
class EnvVar {
public:
    typedef void (*ChangeCallback)(void* arg);
    using Value = typename EnvVarStorage<T>::Value;
    using Default = typename EnvVarStorage<T>::Default;
    using Get = typename EnvVarStorage<T>::Get;

    constexpr EnvVar(const char* name, Default def, ChangeCallback cb = nullptr, void* cbArg = nullptr)
        : name_(name),
          initialised_(false),
          callback_(cb),
          callbackArg_(cbArg),
          default_(def),
          value_(),
          locked_(false) {}
    // Frees a string value.
    ~EnvVar();
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

    const char* name() const { return name_; }
    static int typeCode();

    // Reads the environment on first use; a string is never null.
    Get getValue();
    Get getDefault();
    // String records only: true when the value equals the default (an
    // absent value counts as the empty text).
    bool isDefault();

    // Changes every registration of this name, in registry order.
    void setValue(Get value);

    // Applies a run-time change to this record: ignored when locked, then
    // the change callback runs.
    void dynSet(Get value);

    bool isLocked() const { return locked_; }
    void setLocked(bool locked) { locked_ = locked; }
    void setCallback(ChangeCallback cb, void* arg) {
        callback_ = cb;
        callbackArg_ = arg;
    }

    void ensureRead() {
        if (!initialised_.load(std::memory_order_acquire))
            firstRead();
    }
    // The last registration is gone: the next read consults the environment again.
    void forget() { initialised_.store(false, std::memory_order_release); }

private:
    void firstRead();

    const char* name_;
    std::atomic<bool> initialised_;  // set, with release, once value_ holds the first read
    ChangeCallback callback_;
    void* callbackArg_;
    Default default_;
    Value value_;
    bool locked_;
};

extern template class EnvVar<bool>;
extern template class EnvVar<int>;
extern template class EnvVar<std::string>;

// One module's registration of one setting in the registry.
class BaseRegEnvVar {
public:
    explicit BaseRegEnvVar(const char* sourceFile) : sourceFile_(sourceFile) {}
    BaseRegEnvVar(const BaseRegEnvVar&) = delete;
    BaseRegEnvVar& operator=(const BaseRegEnvVar&) = delete;
    virtual ~BaseRegEnvVar() = default;

    virtual const char* getName() const = 0;
    virtual int getType() const = 0;
    virtual void getValueAsStr(char* buf, size_t size) const = 0;
    virtual void getDefaultAsStr(char* buf, size_t size) const = 0;
    virtual bool isLocked() const = 0;
    virtual void print(std::ostream& out) const = 0;
    // Each registration accepts only its own type; any other is a
    // programming error.
    virtual void dynSetValue(bool value);
    virtual void dynSetValue(int value);
    virtual void dynSetValue(float value);
    virtual void dynSetValue(const std::string& value);

    const char* getSourceFile() const { return sourceFile_; }

private:
    const char* sourceFile_;
};

template <typename T>
class RegEnvVar : public BaseRegEnvVar {
public:
    RegEnvVar(const char* sourceFile, EnvVar<T>& var);
    ~RegEnvVar() override;

    const char* getName() const override { return var_.name(); }
    int getType() const override { return EnvVar<T>::typeCode(); }
    void getValueAsStr(char* buf, size_t size) const override;
    void getDefaultAsStr(char* buf, size_t size) const override;
    bool isLocked() const override { return var_.isLocked(); }
    void print(std::ostream& out) const override;
    using BaseRegEnvVar::dynSetValue;
    void dynSetValue(T value) override;

private:
    EnvVar<T>& var_;
};

extern template class RegEnvVar<bool>;
extern template class RegEnvVar<int>;

// Strings are passed by reference, so this one is written out.
template <>
class RegEnvVar<std::string> : public BaseRegEnvVar {
public:
    RegEnvVar(const char* sourceFile, EnvVar<std::string>& var);
    ~RegEnvVar() override;

    const char* getName() const override { return var_.name(); }
    int getType() const override { return kEnvVarString; }
    void getValueAsStr(char* buf, size_t size) const override;
    void getDefaultAsStr(char* buf, size_t size) const override;
    bool isLocked() const override { return var_.isLocked(); }
    void print(std::ostream& out) const override;
    using BaseRegEnvVar::dynSetValue;
    void dynSetValue(const std::string& value) override;

private:
    EnvVar<std::string>& var_;
};

}  // namespace Corvane
