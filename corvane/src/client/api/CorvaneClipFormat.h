// The format of an image clip: size, pixel layout, rate and free-form
// metadata. Travels as one line of text in node methods and as an attribute
// stream. A value type.
#pragma once

#include <string>

#include "client/api/CorvaneStr.h"

namespace Corvane {
class rcAttrStream;
}

class CorvaneClipFormat {
public:
    CorvaneClipFormat() = default;
    // Frame buffer size 0. A null format tag or metadata is empty; a null
    // metadata tag is "none".
    CorvaneClipFormat(int width, int height, int bitsPerPixel, int numChannels, float frameRate, float pixelRatio,
                      int scanFormat, const char* formatTag, const char* metaDataTag, const char* metaData);
    CorvaneClipFormat(int width, int height, int bitsPerPixel, int numChannels, int frameBufferSize, float frameRate,
                      float pixelRatio, int scanFormat, const char* formatTag, const char* metaDataTag,
                      const char* metaData);
    virtual ~CorvaneClipFormat() = default;

    const char* getFormatTag() const { return formatTag_.c_str(); }
    void setFormatTag(const char* tag) { formatTag_ = tag; }
    const char* getMetaData() const { return metaData_.c_str(); }
    void setMetaData(const char* metaData) { metaData_ = metaData; }
    const char* getMetaDataTag() const { return metaDataTag_.c_str(); }
    void setMetaDataTag(const char* tag) { metaDataTag_ = tag; }
    int getWidth() const { return width_; }
    void setWidth(int width) { width_ = width; }
    int getHeight() const { return height_; }
    void setHeight(int height) { height_ = height; }
    int getFrameBufferSize() const { return frameBufferSize_; }
    void setFrameBufferSize(int size) { frameBufferSize_ = size; }
    float getPixelRatio() const { return pixelRatio_; }
    void setPixelRatio(float ratio) { pixelRatio_ = ratio; }
    int getScanFormat() const { return scanFormat_; }
    void setScanFormat(int scan) { scanFormat_ = scan; }
    float getFrameRate() const { return frameRate_; }
    void setFrameRate(float rate) { frameRate_ = rate; }
    int getBitsPerPixel() const { return bitsPerPixel_; }
    void setBitsPerPixel(int bits) { bitsPerPixel_ = bits; }
    int getNumChannels() const { return numChannels_; }
    void setNumChannels(int channels) { numChannels_ = channels; }
    // Asking a format without channels is a programming error.
    int getBitsPerChannel() const;

    // The argument text of the node methods: ten fields, then the quoted metadata.
    std::string toText() const;
    // Reads a "GetClipFormat" reply; false (the format unchanged) when the
    // nine leading fields do not scan.
    bool fromText(const char* text);
    // Writes w h bpp nch sz asp rate fmt scan metag meta, in this order.
    void writeTo(Corvane::rcAttrStream& stream) const;

private:
    CorvaneStr formatTag_;
    CorvaneStr metaData_;
    CorvaneStr metaDataTag_;
    int width_ = 1;
    int height_ = 1;
    int frameBufferSize_ = 1;
    float pixelRatio_ = 1.0f;
    int scanFormat_ = 0;
    float frameRate_ = 30.0f;
    int bitsPerPixel_ = 24;
    int numChannels_ = 3;
};

// An audio format in clip-format clothes: samples in the width, bits per
// sample in the bits per pixel, the sample rate in the frame rate.
class CorvaneAudioFormat : public CorvaneClipFormat {
public:
    CorvaneAudioFormat() = default;
    CorvaneAudioFormat(int sampleCount, int bitsPerSample, int channelCount, float sampleRate, const char* formatTag,
                       const char* metaDataTag, const char* metaData);

    int getSampleCount() const { return getWidth(); }
    void setSampleCount(int count) { setWidth(count); }
    int getBitsPerSample() const { return getBitsPerPixel(); }
    void setBitsPerSample(int bits) { setBitsPerPixel(bits); }
    float getSampleRate() const { return getFrameRate(); }
    void setSampleRate(float rate) { setFrameRate(rate); }
};
