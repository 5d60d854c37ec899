// A self-describing record: an ordered sequence of named values kept in one
// string. Each entry is the name, a blank, the value's length in decimal, a
// blank and the value's bytes; entries follow each other with no separator
// and values are never escaped. Readers find names through a cursor that
// stays where the last lookup ended, so reading entries in the order they
// were written costs one entry each. Replacing or removing a value blanks
// the old entry's name in place; readers skip such nameless entries.
// Not thread-safe: even the readers move the cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane {

// The characters an attribute name may not contain.
extern const char* const illegalAttributeChars;

class rcAttrStream {
public:
    // One entry found in a text. The pointers point into the text that was
    // read and stay valid while that text is unchanged.
    struct Entry {
        const char* name = nullptr;
        size_t nameLen = 0;
        const char* value = nullptr;
        size_t valueLen = 0;
        size_t start = 0;  // offset of the name
    };

    // Walks the named entries of a private copy of a stream's text, so that
    // later changes to the stream do not disturb it.
    class ConstIterator {
    public:
        ConstIterator() = default;
        explicit ConstIterator(const rcAttrStream& stream);
        virtual ~ConstIterator() = default;

        // Takes a fresh copy of the stream's text and starts over.
        virtual void reset(const rcAttrStream& stream);

        // The next entry with a non-empty name; false at the end or at a
        // malformed length (which is posted as an error).
        bool next(Entry& entry);

    protected:
        std::string text_;
        size_t pos_ = 0;
    };

    // A ConstIterator that can blank, in its owner, the entry it has just
    // found. The owner is not owned and must outlive the iterator's use.
    class Iterator : public ConstIterator {
    public:
        Iterator() = default;
        explicit Iterator(rcAttrStream& stream);

        using ConstIterator::reset;
        void reset(rcAttrStream& stream);

        // Moves to the next entry named attr; false when there is none.
        bool find(const char* attr);
        // Blanks the name of the entry last returned, in the owner's text.
        void remove();

    private:
        rcAttrStream* owner_ = nullptr;
        Entry last_;
        bool haveLast_ = false;
    };

    rcAttrStream() = default;
    // Takes a received text unchanged; a null text is an empty stream.
    explicit rcAttrStream(const char* text);
    explicit rcAttrStream(std::string text);
    virtual ~rcAttrStream() = default;

    const std::string& str() const { return stream_; }
    const char* c_str() const { return stream_.c_str(); }
    // Replaces the whole text, as the constructors do.
    void assign(std::string text);

    // Writers. Each removes an earlier entry of the same name first. A name
    // containing a blank is a programming error.
    void addStringValue(const char* attr, const char* v);
    void addStringValue(const char* attr, const std::string& v) { addStringValue(attr, v.c_str()); }
    // Adds without looking for an earlier entry of the name, in constant
    // time: for writers that make each name once, such as a numbered list
    // of thousands of entries, where the search would cost the square.
    void appendStringValue(const char* attr, const std::string& v) { appendStringValue(attr, v.c_str()); }
    void appendStringValue(const char* attr, const char* v);
    void addIntValue(const char* attr, int v);
    void addFloatValue(const char* attr, float v);
    void addBoolValue(const char* attr, bool v);
    void addHex32Value(const char* attr, uint32_t v);
    void addHex64Value(const char* attr, uint64_t v);

    // Readers: true when attr was found; on false the output is untouched.
    // The typed readers convert at most the first 63 bytes of the value and
    // do not detect conversion errors.
    bool getValue(const char* attr, std::string& out) const;
    // Copies at most size bytes and terminates at min(copied, size - 1).
    bool getStringValue(const char* attr, char* buf, size_t size) const;
    bool getIntValue(const char* attr, int& out) const;
    bool getLongValue(const char* attr, long& out) const;
    bool getInt8Value(const char* attr, int8_t& out) const;
    bool getFloatValue(const char* attr, float& out) const;
    bool getHex32Value(const char* attr, uint32_t& out) const;
    bool getHex64Value(const char* attr, uint64_t& out) const;
    bool getBoolValue(const char* attr, bool& out) const;

    // Number of entries with a non-empty name.
    int count() const;
    bool isEmpty() const;

    // Same entries with the same values; order and nameless entries do not
    // matter.
    bool operator==(const rcAttrStream& other) const;
    bool operator!=(const rcAttrStream& other) const { return !(*this == other); }

    // Posts every entry at user level between two framing lines.
    void dump() const;
    // name='value' pairs separated by blanks, values longer than
    // maxValueLen (at least 3) cut and ended with "...'", and newlines,
    // carriage returns and tabs shown as blanks.
    std::string prettyString(int maxValueLen) const;
    void prettyDump(int maxValueLen) const;

    // Entries the lookup cursor has read since the text last changed.
    size_t cursorSteps() const { return cursorSteps_; }

    // Reads the entry at *pos of text[0, size); 1 with an entry, 0 at the
    // end, -1 for a malformed length (posted as an error). Nameless entries
    // are skipped.
    static int readEntry(const char* text, size_t size, size_t* pos, Entry* entry);

private:
    bool find(const char* attr, Entry* entry) const;
    // Copies the value of attr into a 64-byte buffer for the typed readers.
    bool getShortValue(const char* attr, char (&buf)[64]) const;
    void changed();

    std::string stream_;
    // The lookup cursor reads stream_ itself: every change resets it to 0,
    // so it never needs a snapshot of its own.
    mutable size_t cursorPos_ = 0;
    mutable size_t cursorSteps_ = 0;
};

}  // namespace Corvane
