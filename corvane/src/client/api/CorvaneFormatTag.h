// The format tags the API names: the pixel and audio sample layouts and the
// file formats a clip format's tag may hold.
#pragma once

namespace CorvaneFormatTag {
constexpr const char* kMono = "mono";
constexpr const char* kRgb = "rgb";
constexpr const char* kHls = "hls";
constexpr const char* kYuv = "yuv";
constexpr const char* kRgba = "rgba";
constexpr const char* kHlsa = "hlsa";
constexpr const char* kYuva = "yuva";
constexpr const char* kUyvy = "uyvy";
constexpr const char* kMonoLe = "mono_le";
constexpr const char* kRgbLe = "rgb_le";
constexpr const char* kHlsLe = "hls_le";
constexpr const char* kYuvLe = "yuv_le";
constexpr const char* kRgbaLe = "rgba_le";
constexpr const char* kHlsaLe = "hlsa_le";
constexpr const char* kYuvaLe = "yuva_le";
constexpr const char* kUyvyLe = "uyvu_le";  // the name servers use
constexpr const char* kRgbFloat = "rgb_float";
constexpr const char* kRgbFloatLe = "rgb_float_le";
constexpr const char* kRgbaFloat = "rgba_float";
constexpr const char* kRgbaFloatLe = "rgba_float_le";
constexpr const char* kMonoFloat = "mono_float";
constexpr const char* kMonoFloatLe = "mono_float_le";
constexpr const char* kAls = "als";
constexpr const char* kDpx = "dpx";
constexpr const char* kJpg = "jpg";
constexpr const char* kPict = "pict";
constexpr const char* kPicio = "picio";
constexpr const char* kSgi = "sgi";
constexpr const char* kPic = "pic";
constexpr const char* kTga = "tga";
constexpr const char* kIff = "iff";
constexpr const char* kTif = "tif";
constexpr const char* kRla = "rla";
constexpr const char* kPsd = "psd";
constexpr const char* kCin = "cin";
constexpr const char* kExr = "exr";
constexpr const char* kMixed = "mixed";
constexpr const char* kAudioMixed = "xqaudio_mixed";
constexpr const char* kAudioFloat = "xqaudio_float";
constexpr const char* kAudioFloatLe = "xqaudio_float_le";
constexpr const char* kAudioInt8 = "xqaudio_int8";
constexpr const char* kAudioInt8Unsigned = "xqaudio_int8_unsigned";
constexpr const char* kAudioInt16 = "xqaudio_int16";
constexpr const char* kAudioInt16Le = "xqaudio_int16_le";
constexpr const char* kAudioInt24 = "xqaudio_int24";
constexpr const char* kAudioInt24Le = "xqaudio_int24_le";
constexpr const char* kAudioInt24Msb32Le = "xqaudio_int24_msb32_le";
constexpr const char* kWav = "wav";
constexpr const char* kAiff = "aiff";
constexpr const char* kAifc = "aifc";
constexpr const char* kXqaudio = "xqaudio";
}  // namespace CorvaneFormatTag
