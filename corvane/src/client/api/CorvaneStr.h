// An owned, NUL-terminated byte string. The empty string costs no
// allocation: buff_ then points at one shared static byte. A value type;
// not shared between threads.
#pragma once

class CorvaneStr {
public:
    CorvaneStr() : buff_(defaultBuff_) {}
    CorvaneStr(const char* text);  // NOLINT: converts like the C strings it wraps
    CorvaneStr(const CorvaneStr& other);
    CorvaneStr& operator=(const char* text);
    CorvaneStr& operator=(const CorvaneStr& other);
    virtual ~CorvaneStr();

    const char* c_str() const { return buff_; }
    unsigned int length() const;
    bool isEmpty() const { return buff_[0] == '\0'; }

    // Drops a private block and goes back to the shared empty string.
    void freeBuff();
    // Room for n bytes plus a terminator, keeping the content.
    void reallocBuff(unsigned int n);

    bool operator==(const CorvaneStr& other) const;
    bool operator!=(const CorvaneStr& other) const { return !(*this == other); }
    bool operator<(const CorvaneStr& other) const;
    // A null pointer never compares equal.
    bool operator==(const char* text) const;
    bool operator!=(const char* text) const { return !(*this == text); }

private:
    void assign(const char* text);

    static char defaultBuff_[1];
    char* buff_;
};
