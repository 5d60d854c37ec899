#include "client/api/CorvaneStrList.h"

#include <cassert>

const char* CorvaneStrList::getStr(unsigned int index) const {
    assert(index < size() && "index < size()");
    return (*list_)[index].c_str();
}
