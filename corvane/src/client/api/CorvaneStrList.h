// An ordered list of strings. A value type.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CorvaneStrList {
public:
    CorvaneStrList() : list_(std::make_unique<std::vector<std::string>>()) {}
    CorvaneStrList(const CorvaneStrList& other) : list_(std::make_unique<std::vector<std::string>>(*other.list_)) {}
    CorvaneStrList& operator=(const CorvaneStrList& other) {
        if (this != &other)
            *list_ = *other.list_;
        return *this;
    }
    virtual ~CorvaneStrList() = default;

    unsigned int size() const { return static_cast<unsigned int>(list_->size()); }
    const char* getStr(unsigned int index) const;
    void append(const char* text) { list_->push_back(text ? text : ""); }
    // Drops the tail or appends empty strings.
    void resize(unsigned int n) { list_->resize(n); }
    bool operator==(const CorvaneStrList& other) const { return *list_ == *other.list_; }
    bool operator!=(const CorvaneStrList& other) const { return !(*this == other); }

private:
    std::unique_ptr<std::vector<std::string>> list_;
};
