// Describes one remote method: its wire name, its parameters, its result
// type and the callback that implements it, so that a server context can
// dispatch command lines to plain functions. Copied by value into the
// server's method table. A method is used by one thread at a time; the
// callback may set the error text through the const reference it gets.
#pragma once

#include <string>

#include "base/rcApi/rcParam.h"

namespace Corvane {

class rcMethod {
public:
    // object is the command's target object (null for object 0); the
    // callback fills result and returns true, or returns false and may set
    // the error text.
    typedef bool (*Callback)(void* object, const rcMethod& method, const rcParam::Array& args, rcParam& result);

    // The empty parameter list, for methods without parameters.
    static const rcParam::Decl dudParamList_[1];

    rcMethod(void* context, const char* name, Callback callback, const rcParam::Type* resultType,
             const rcParam::Decl* params = dudParamList_);
    virtual ~rcMethod() = default;

    // Converts argText into typed arguments, calls the callback and puts
    // the result's text (true) or the error text (false) into out.
    // Exceptions from the callback pass through.
    bool invoke(void* object, const char* argText, std::string& out) const;

    void* context() const { return context_; }
    const char* name() const { return name_; }
    Callback callback() const { return callback_; }
    const rcParam::Type* resultType() const { return resultType_; }
    const rcParam::Decl* params() const { return params_; }
    const std::string& errorText() const { return errorText_; }
    void setErrorText(const std::string& text) const { errorText_ = text; }

private:
    void* context_;     // not owned
    const char* name_;  // a program constant
    Callback callback_;
    const rcParam::Type* resultType_;
    const rcParam::Decl* params_;  // a static list
    mutable std::string errorText_;
};

}  // namespace Corvane
