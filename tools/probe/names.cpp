#include "names.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace tav::probe {

namespace {

struct NamedGuid {
    const GUID* guid;
    const char* name;
};

// The presets of encoder API 8.1 are deprecated in the newer header, but still what such drivers report.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
const NamedGuid codecs[] = {
    {&NV_ENC_CODEC_H264_GUID, "H264"},
    {&NV_ENC_CODEC_HEVC_GUID, "HEVC"},
};
const NamedGuid profiles[] = {
    {&NV_ENC_CODEC_PROFILE_AUTOSELECT_GUID, "autoselect"},
    {&NV_ENC_H264_PROFILE_BASELINE_GUID, "H264 baseline"},
    {&NV_ENC_H264_PROFILE_MAIN_GUID, "H264 main"},
    {&NV_ENC_H264_PROFILE_HIGH_GUID, "H264 high"},
    {&NV_ENC_H264_PROFILE_HIGH_444_GUID, "H264 high 4:4:4"},
    {&NV_ENC_H264_PROFILE_STEREO_GUID, "H264 stereo"},
    {&NV_ENC_H264_PROFILE_PROGRESSIVE_HIGH_GUID, "H264 progressive high"},
    {&NV_ENC_H264_PROFILE_CONSTRAINED_HIGH_GUID, "H264 constrained high"},
    {&NV_ENC_HEVC_PROFILE_MAIN_GUID, "HEVC main"},
    {&NV_ENC_HEVC_PROFILE_MAIN10_GUID, "HEVC main10"},
    {&NV_ENC_HEVC_PROFILE_FREXT_GUID, "HEVC frext"},
};
const NamedGuid presets[] = {
    {&NV_ENC_PRESET_DEFAULT_GUID, "default"},
    {&NV_ENC_PRESET_HP_GUID, "hp"},
    {&NV_ENC_PRESET_HQ_GUID, "hq"},
    {&NV_ENC_PRESET_BD_GUID, "bd"},
    {&NV_ENC_PRESET_LOW_LATENCY_DEFAULT_GUID, "low latency"},
    {&NV_ENC_PRESET_LOW_LATENCY_HQ_GUID, "low latency hq"},
    {&NV_ENC_PRESET_LOW_LATENCY_HP_GUID, "low latency hp"},
    {&NV_ENC_PRESET_LOSSLESS_DEFAULT_GUID, "lossless"},
    {&NV_ENC_PRESET_LOSSLESS_HP_GUID, "lossless hp"},
    {&NV_ENC_PRESET_P1_GUID, "p1"},
    {&NV_ENC_PRESET_P2_GUID, "p2"},
    {&NV_ENC_PRESET_P3_GUID, "p3"},
    {&NV_ENC_PRESET_P4_GUID, "p4"},
    {&NV_ENC_PRESET_P5_GUID, "p5"},
    {&NV_ENC_PRESET_P6_GUID, "p6"},
    {&NV_ENC_PRESET_P7_GUID, "p7"},
};
#pragma GCC diagnostic pop

std::string guidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

template <std::size_t N>
std::string lookUp(const NamedGuid (&table)[N], const GUID& guid)
{
    for (const NamedGuid& entry : table) {
        if (std::memcmp(entry.guid, &guid, sizeof(GUID)) == 0) {
            return entry.name;
        }
    }
    return guidText(guid);
}

}  // namespace

std::string codecName(const GUID& guid) { return lookUp(codecs, guid); }
std::string profileName(const GUID& guid) { return lookUp(profiles, guid); }
std::string presetName(const GUID& guid) { return lookUp(presets, guid); }

std::string bufferFormatName(NV_ENC_BUFFER_FORMAT format)
{
    static const std::pair<NV_ENC_BUFFER_FORMAT, const char*> names[] = {
        {NV_ENC_BUFFER_FORMAT_NV12, "NV12"},
        {NV_ENC_BUFFER_FORMAT_YV12, "YV12"},
        {NV_ENC_BUFFER_FORMAT_IYUV, "IYUV"},
        {NV_ENC_BUFFER_FORMAT_YUV444, "YUV444"},
        {NV_ENC_BUFFER_FORMAT_YUV420_10BIT, "YUV420 10-bit"},
        {NV_ENC_BUFFER_FORMAT_YUV444_10BIT, "YUV444 10-bit"},
        {NV_ENC_BUFFER_FORMAT_ARGB, "ARGB"},
        {NV_ENC_BUFFER_FORMAT_ARGB10, "ARGB10"},
        {NV_ENC_BUFFER_FORMAT_AYUV, "AYUV"},
        {NV_ENC_BUFFER_FORMAT_ABGR, "ABGR"},
        {NV_ENC_BUFFER_FORMAT_ABGR10, "ABGR10"},
    };
    for (const auto& [value, name] : names) {
        if (value == format) {
            return name;
        }
    }
    return "format 0x" + [format] {
        char hex[16];
        std::snprintf(hex, sizeof(hex), "%x", static_cast<unsigned>(format));
        return std::string(hex);
    }();
}

}  // namespace tav::probe
