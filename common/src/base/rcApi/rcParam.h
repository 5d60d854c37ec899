// Typed parameter values of the methods a server context serves. A method's
// parameters are described by a static list of (type, name) pairs ended by
// an entry with a null type; each type is an immutable process-wide
// singleton, the TYPE member of its class, that creates default values.
// The argument text of a call is split among the parameters by
// rcParam::Array. Conversions never report errors: a malformed number
// becomes what strtol or strtod make of it. Values are not thread-safe; the
// TYPE singletons are immutable and may be shared.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace Corvane {

class rcParam {
public:
    // Creates default-valued parameters of one type.
    class Type {
    public:
        constexpr Type() = default;
        virtual ~Type() = default;
        virtual std::unique_ptr<rcParam> create() const = 0;
        virtual const char* name() const = 0;
    };

    // One entry of a parameter declaration list.
    struct Decl {
        const Type* type;  // null ends the list
        const char* name;
    };

    class Array;

    virtual ~rcParam() = default;
    // The base ignores every setter and answers 0, false or "".
    virtual void setInt(int) {}
    virtual void setLong(long) {}
    virtual void setFloat(float) {}
    virtual void fromString(const char*) {}
    virtual void fromString(const std::string& text) { fromString(text.c_str()); }
    virtual void setBool(bool) {}
    virtual int getInt() const { return 0; }
    virtual long getLong() const { return 0; }
    virtual float getFloat() const { return 0.0f; }
    virtual std::string toString() const { return std::string(); }
    virtual bool getBool() const { return false; }
};

// The parameters of one call, one per specified parameter, in order.
class rcParam::Array {
public:
    // Creates a default parameter per entry of decls, then hands them the
    // argument text: all of it to a single parameter, else split at blanks
    // outside double quotes, one token per parameter.
    Array(const Decl* decls, const char* argText);
    virtual ~Array() = default;
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    size_t size() const { return params_.size(); }
    const rcParam& operator[](size_t i) const { return *params_.at(i); }
    rcParam& operator[](size_t i) { return *params_.at(i); }

private:
    void split(const char* argText);

    std::vector<std::unique_ptr<rcParam>> params_;
};

// The type of each parameter class: creates P and answers a fixed name.
template <class P>
class rcParamType final : public rcParam::Type {
public:
    constexpr explicit rcParamType(const char* name) : name_(name) {}
    std::unique_ptr<rcParam> create() const override { return std::make_unique<P>(); }
    const char* name() const override { return name_; }

private:
    const char* name_;
};

class rcParamVoid : public rcParam {
public:
    static const rcParamType<rcParamVoid> TYPE;  // "void"
};

class rcParamBool : public rcParam {
public:
    static const rcParamType<rcParamBool> TYPE;  // "bool"
    using rcParam::fromString;
    void setBool(bool v) override { value_ = v; }
    bool getBool() const override { return value_; }
    void fromString(const char* text) override;  // the boolean word rule
    std::string toString() const override { return value_ ? "true" : "false"; }

private:
    bool value_ = false;
};

class rcParamInt : public rcParam {
public:
    static const rcParamType<rcParamInt> TYPE;  // "int"
    using rcParam::fromString;
    void setInt(int v) override { value_ = v; }
    int getInt() const override { return value_; }
    void fromString(const char* text) override;
    std::string toString() const override;

private:
    int value_ = 0;
};

class rcParamLong : public rcParam {
public:
    static const rcParamType<rcParamLong> TYPE;  // "long"
    using rcParam::fromString;
    void setLong(long v) override { value_ = v; }
    long getLong() const override { return value_; }
    void fromString(const char* text) override;
    std::string toString() const override;

private:
    long value_ = 0;
};

class rcParamFloat : public rcParam {
public:
    static const rcParamType<rcParamFloat> TYPE;  // "float"
    using rcParam::fromString;
    void setFloat(float v) override { value_ = v; }
    float getFloat() const override { return value_; }
    void fromString(const char* text) override;
    std::string toString() const override;  // six decimals

private:
    float value_ = 0.0f;
};

class rcParamString : public rcParam {
public:
    static const rcParamType<rcParamString> TYPE;  // "const char *"
    void fromString(const char* text) override { value_ = text ? text : ""; }
    void fromString(const std::string& text) override { value_ = text; }
    std::string toString() const override { return value_; }
    const std::string& value() const { return value_; }

private:
    std::string value_;
};

}  // namespace Corvane
