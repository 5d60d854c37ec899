#include "client/api/CorvaneClipFormat.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcValue.h"

CorvaneClipFormat::CorvaneClipFormat(int width, int height, int bitsPerPixel, int numChannels, float frameRate,
                                     float pixelRatio, int scanFormat, const char* formatTag, const char* metaDataTag,
                                     const char* metaData)
    : CorvaneClipFormat(width, height, bitsPerPixel, numChannels, 0, frameRate, pixelRatio, scanFormat, formatTag,
                        metaDataTag, metaData) {}

CorvaneClipFormat::CorvaneClipFormat(int width, int height, int bitsPerPixel, int numChannels, int frameBufferSize,
                                     float frameRate, float pixelRatio, int scanFormat, const char* formatTag,
                                     const char* metaDataTag, const char* metaData)
    : formatTag_(formatTag),
      metaData_(metaData),
      metaDataTag_(metaDataTag ? metaDataTag : "none"),
      width_(width),
      height_(height),
      frameBufferSize_(frameBufferSize),
      pixelRatio_(pixelRatio),
      scanFormat_(scanFormat),
      frameRate_(frameRate),
      bitsPerPixel_(bitsPerPixel),
      numChannels_(numChannels) {}

int CorvaneClipFormat::getBitsPerChannel() const {
    assert(numChannels_ != 0 && "bits per channel of a format without channels");
    // Widened: a server's INT_MIN over -1 would overflow an int.
    const int64_t bits = static_cast<int64_t>(bitsPerPixel_) / numChannels_;
    return static_cast<int>(std::min<int64_t>(bits, INT_MAX));
}

std::string CorvaneClipFormat::toText() const {
    char fields[2048];
    std::snprintf(fields, sizeof fields, "%d %d %d %d %d %g %g %s %d %s ", width_, height_, bitsPerPixel_, numChannels_,
                  frameBufferSize_, static_cast<double>(pixelRatio_), static_cast<double>(frameRate_),
                  formatTag_.c_str(), scanFormat_, metaDataTag_.c_str());
    return fields + Corvane::rcValue::quote(metaData_.c_str());
}

bool CorvaneClipFormat::fromText(const char* text) {
    if (!text)
        return false;
    int width = 0, height = 0, bits = 0, channels = 0, size = 0, scan = 0;
    double ratio = 0, rate = 0;
    char tag[256] = "", metaTag[256] = "", meta[4096] = "";
    // Tags longer than 255 characters stop the scan. A reply that ends
    // before the metadata tag leaves the tag and the metadata empty.
    const int n = std::sscanf(text, "%d %d %d %d %d %lg %lg %255s %d %255s %4095c", &width, &height, &bits, &channels,
                              &size, &ratio, &rate, tag, &scan, metaTag, meta);
    if (n < 9)
        return false;
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bits;
    numChannels_ = channels;
    frameBufferSize_ = size;
    pixelRatio_ = static_cast<float>(ratio);
    frameRate_ = static_cast<float>(rate);
    formatTag_ = tag;
    scanFormat_ = scan;
    metaDataTag_ = metaTag;
    metaData_ = n == 11 ? meta : "";
    return true;
}

void CorvaneClipFormat::writeTo(Corvane::rcAttrStream& stream) const {
    stream.addIntValue("w", width_);
    stream.addIntValue("h", height_);
    stream.addIntValue("bpp", bitsPerPixel_);
    stream.addIntValue("nch", numChannels_);
    stream.addIntValue("sz", frameBufferSize_);
    stream.addFloatValue("asp", pixelRatio_);
    stream.addFloatValue("rate", frameRate_);
    stream.addStringValue("fmt", formatTag_.c_str());
    stream.addIntValue("scan", scanFormat_);
    stream.addStringValue("metag", metaDataTag_.c_str());
    stream.addStringValue("meta", metaData_.c_str());
}

CorvaneAudioFormat::CorvaneAudioFormat(int sampleCount, int bitsPerSample, int channelCount, float sampleRate,
                                       const char* formatTag, const char* metaDataTag, const char* metaData)
    : CorvaneClipFormat(sampleCount, 1, bitsPerSample, channelCount, sampleRate, 1.0f, 0, formatTag, metaDataTag,
                        metaData) {}
