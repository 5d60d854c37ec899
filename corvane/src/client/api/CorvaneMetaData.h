// Metadata values exchanged with servers.
#pragma once

#include <memory>

namespace CorvaneMetaData {

constexpr const char* kBlobType = "BLOB";
constexpr const char* kXmlType = "XML";

// A typed, versioned metadata value kept as an attribute stream with the
// keys FORMAT, VERSION_MAJOR, VERSION_MINOR and DATA. A value type.
class Blob {
public:
    class Imp;

    explicit Blob(const char* streamText = nullptr);
    Blob(const char* data, const char* format, int majorVersion, int minorVersion);
    Blob(const Blob& other);
    Blob& operator=(const Blob& other);
    virtual ~Blob();

    // Null when absent.
    const char* getFormat() const;
    const char* getData() const;
    // True only when both numbers are present.
    bool getVersion(int& major, int& minor) const;
    // The attribute-stream text.
    const char* c_str() const;

private:
    std::unique_ptr<Imp> imp_;
};

}  // namespace CorvaneMetaData
