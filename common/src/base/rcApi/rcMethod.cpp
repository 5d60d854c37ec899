#include "base/rcApi/rcMethod.h"

#include <cassert>

namespace Corvane {

const rcParam::Decl rcMethod::dudParamList_[1] = {{nullptr, nullptr}};

rcMethod::rcMethod(void* context, const char* name, Callback callback, const rcParam::Type* resultType,
                   const rcParam::Decl* params)
    : context_(context),
      name_(name),
      callback_(callback),
      resultType_(resultType ? resultType : &rcParamVoid::TYPE),
      params_(params ? params : dudParamList_) {
    assert(name && "name");
    assert(callback && "callback");
}

bool rcMethod::invoke(void* object, const char* argText, std::string& out) const {
    const rcParam::Array args(params_, argText);
    const std::unique_ptr<rcParam> result = resultType_->create();
    const bool ok = callback_(object, *this, args, *result);
    out = ok ? result->toString() : errorText_;
    return ok;
}

}  // namespace Corvane
