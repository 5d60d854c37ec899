// Internal to corvane_base.
// The identity pairs saved by CoUser::pushUser, handed back in reverse order
// by CoUser::popUser. One per process, reached through instance(); like the
// rest of CoUser it is not guarded, because identity changes are made by one
// thread around one short call.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace Corvane {

class UIDStack {
public:
    struct Pair {
        uid_t realUid;
        uid_t effectiveUid;
    };

    static UIDStack& instance();

    void push(Pair pair) { pairs_.push_back(pair); }
    // The stack must not be empty.
    Pair pop();
    bool empty() const { return pairs_.empty(); }
    size_t size() const { return pairs_.size(); }

private:
    UIDStack() = default;

    std::vector<Pair> pairs_;
};

}  // namespace Corvane
