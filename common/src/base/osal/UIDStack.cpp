#include "base/osal/UIDStack.h"

#include <cassert>

namespace Corvane {

UIDStack& UIDStack::instance() {
    static UIDStack stack;
    return stack;
}

UIDStack::Pair UIDStack::pop() {
    assert(!pairs_.empty() && "!UIDStack.empty()");
    const Pair pair = pairs_.back();
    pairs_.pop_back();
    return pair;
}

}  // namespace Corvane
