// Packs a list of values into one text that can travel as a single
// attribute value: the decimal count and a blank, then for each element its
// decimal length, a blank and its bytes, with nothing between elements.
// Only lists of strings exist. A plain value; not thread-safe.
#pragma once

#include <string>
#include <vector>

namespace Corvane {

template <typename T>
class rcAttrList;

template <>
class rcAttrList<std::string> {
public:
    rcAttrList() = default;
    // Takes a received text for decode().
    explicit rcAttrList(std::string text) : text_(std::move(text)) {}
    explicit rcAttrList(const std::vector<std::string>& items) { encode(items); }
    virtual ~rcAttrList() = default;

    void encode(const std::vector<std::string>& items);
    // Clears items, then reads the text into it. False, with items empty,
    // for a text without a blank, a count of 0, an empty element, a length
    // that runs past the end or a count that does not match.
    bool decode(std::vector<std::string>& items) const;

    const std::string& str() const { return text_; }
    void assign(std::string text) { text_ = std::move(text); }

private:
    std::string text_;
};

}  // namespace Corvane
