// An encoder library whose counts are not to be believed: it reports 4294967295 codecs and input formats, and
// says it wrote 4294967295 items into whatever array it was given. Sessions open on any device.
#include <ffnvcodec/nvEncodeAPI.h>

#include <cstdint>

#define TAV_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t everything = 0xffffffffu;
int session;

NVENCSTATUS NVENCAPI unimplemented() { return NV_ENC_ERR_UNIMPLEMENTED; }

NVENCSTATUS NVENCAPI openSession(NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS*, void** encoder)
{
    *encoder = &session;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI closeSession(void*) { return NV_ENC_SUCCESS; }

NVENCSTATUS NVENCAPI countAll(void*, std::uint32_t* count)
{
    *count = everything;
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI countAllFor(void*, GUID, std::uint32_t* count)
{
    *count = everything;
    return NV_ENC_SUCCESS;
}

// A plausible count, contradicted by what the listing then claims to have written.
NVENCSTATUS NVENCAPI countTwoFor(void*, GUID, std::uint32_t* count)
{
    *count = 2;
    return NV_ENC_SUCCESS;
}

template <class Item>
void fill(Item* items, std::uint32_t size, const Item& item, std::uint32_t* written)
{
    for (std::uint32_t i = 0; i < size; ++i) {
        items[i] = item;
    }
    *written = everything;
}

NVENCSTATUS NVENCAPI listCodecs(void*, GUID* guids, std::uint32_t size, std::uint32_t* written)
{
    fill(guids, size, NV_ENC_CODEC_H264_GUID, written);
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI listProfiles(void*, GUID, GUID* guids, std::uint32_t size, std::uint32_t* written)
{
    fill(guids, size, NV_ENC_H264_PROFILE_MAIN_GUID, written);
    return NV_ENC_SUCCESS;
}

NVENCSTATUS NVENCAPI listFormats(void*, GUID, NV_ENC_BUFFER_FORMAT* formats, std::uint32_t size,
                                 std::uint32_t* written)
{
    fill(formats, size, NV_ENC_BUFFER_FORMAT_NV12, written);
    return NV_ENC_SUCCESS;
}

}  // namespace

TAV_STANDIN_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPIGetMaxSupportedVersion(std::uint32_t* version)
{
    *version = (8u << 4) | 1u;
    return NV_ENC_SUCCESS;
}

TAV_STANDIN_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPICreateInstance(NV_ENCODE_API_FUNCTION_LIST* list)
{
    const auto none = reinterpret_cast<void*>(&unimplemented);
    // Every entry a binding may check for is filled; those the probe calls do something.
    for (void** entry = reinterpret_cast<void**>(&list->nvEncOpenEncodeSession);
         entry <= reinterpret_cast<void**>(&list->nvEncRunMotionEstimationOnly); ++entry) {
        *entry = none;
    }
    list->nvEncOpenEncodeSessionEx = openSession;
    list->nvEncDestroyEncoder = closeSession;
    list->nvEncGetEncodeGUIDCount = countAll;
    list->nvEncGetEncodeGUIDs = listCodecs;
    list->nvEncGetEncodeProfileGUIDCount = countTwoFor;
    list->nvEncGetEncodeProfileGUIDs = listProfiles;
    list->nvEncGetInputFormatCount = countAllFor;
    list->nvEncGetInputFormats = listFormats;
    list->nvEncGetEncodePresetCount = countTwoFor;
    list->nvEncGetEncodePresetGUIDs = listProfiles;
    return NV_ENC_SUCCESS;
}
