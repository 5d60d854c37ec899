#include "base/rcApi/rcAttrList.h"

#include <cstdio>

#include "base/rcApi/rcTextScan.h"

namespace Corvane {

void rcAttrList<std::string>::encode(const std::vector<std::string>& items) {
    char number[32];
    size_t total = static_cast<size_t>(std::snprintf(number, sizeof number, "%zu ", items.size()));
    for (const std::string& item : items)
        total += item.size() + 21;
    text_.clear();
    text_.reserve(total);
    text_.append(number);
    for (const std::string& item : items) {
        const int n = std::snprintf(number, sizeof number, "%zu ", item.size());
        text_.append(number, static_cast<size_t>(n));
        text_.append(item);
    }
}

bool rcAttrList<std::string>::decode(std::vector<std::string>& items) const {
    items.clear();
    const char* text = text_.data();
    const size_t size = text_.size();
    size_t blank = text_.find(' ');
    if (blank == std::string::npos)
        return false;
    const long count = rcText::scanLong(text, text + blank);
    if (count == 0)
        return false;
    size_t read = 0;
    size_t pos = blank + 1;
    while (pos < size) {
        blank = text_.find(' ', pos);
        if (blank == std::string::npos)
            break;
        const long len = rcText::scanLong(text + pos, text + blank);
        const size_t start = blank + 1;
        if (len <= 0 || static_cast<unsigned long>(len) > size - start)
            break;
        items.emplace_back(text + start, static_cast<size_t>(len));
        ++read;
        pos = start + static_cast<size_t>(len);
    }
    if (pos >= size && count > 0 && read == static_cast<unsigned long>(count))
        return true;
    items.clear();
    return false;
}

}  // namespace Corvane
