// A stand-in for libnvidia-encode.so.1. Instance creation checks the function list's version word and fills every
// entry of API 8.1 with a recorder; each recorder notes which entry was called, its arguments and the version
// words of the structures it was given, and returns the status the test chose; the test may have it leave chosen
// entries empty all the same. Variants leave out one of the two exported entry points.
#include "control.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {

using tav::test::nvenc::standIn;
using List = NV_ENCODE_API_FUNCTION_LIST;

template <class T, class = void>
struct hasVersion : std::false_type {};
template <class T>
struct hasVersion<T, std::void_t<decltype(std::declval<T&>().version)>> : std::true_type {};

template <class T>
void collectVersionWords(std::vector<std::uint32_t>&, const T&)
{
}

template <class T>
void collectVersionWords(std::vector<std::uint32_t>& out, T* structure)
{
    if constexpr (hasVersion<T>::value) {
        if (structure == nullptr) {
            return;
        }
        out.push_back(structure->version);
        if constexpr (std::is_same_v<T, NV_ENC_PRESET_CONFIG>) {
            out.push_back(structure->presetCfg.version);
        }
        if constexpr (std::is_same_v<T, NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS>) {
            out.push_back(structure->apiVersion);
        }
    }
}

template <class Entry>
struct Recorder;

template <class... Args>
struct Recorder<NVENCSTATUS(NVENCAPI*)(Args...)> {
    template <std::size_t Offset>
    static NVENCSTATUS call(Args... args)
    {
        std::vector<std::uint32_t> versionWords;
        (collectVersionWords(versionWords, args), ...);
        standIn().calls.push_back({Offset, tav::test::nvenc::describeArguments(args...), versionWords});
        return standIn().entryStatus;
    }
};

#define TAV_RECORD_ENTRY(entry) list->entry = &Recorder<decltype(list->entry)>::call<offsetof(List, entry)>

// Every entry of the API 8.1 list; later additions and reserved slots stay empty. Unused by the variant without
// instance creation.
[[maybe_unused]] void fill(List* list)
{
    TAV_RECORD_ENTRY(nvEncOpenEncodeSession);
    TAV_RECORD_ENTRY(nvEncGetEncodeGUIDCount);
    TAV_RECORD_ENTRY(nvEncGetEncodeProfileGUIDCount);
    TAV_RECORD_ENTRY(nvEncGetEncodeProfileGUIDs);
    TAV_RECORD_ENTRY(nvEncGetEncodeGUIDs);
    TAV_RECORD_ENTRY(nvEncGetInputFormatCount);
    TAV_RECORD_ENTRY(nvEncGetInputFormats);
    TAV_RECORD_ENTRY(nvEncGetEncodeCaps);
    TAV_RECORD_ENTRY(nvEncGetEncodePresetCount);
    TAV_RECORD_ENTRY(nvEncGetEncodePresetGUIDs);
    TAV_RECORD_ENTRY(nvEncGetEncodePresetConfig);
    TAV_RECORD_ENTRY(nvEncInitializeEncoder);
    TAV_RECORD_ENTRY(nvEncCreateInputBuffer);
    TAV_RECORD_ENTRY(nvEncDestroyInputBuffer);
    TAV_RECORD_ENTRY(nvEncCreateBitstreamBuffer);
    TAV_RECORD_ENTRY(nvEncDestroyBitstreamBuffer);
    TAV_RECORD_ENTRY(nvEncEncodePicture);
    TAV_RECORD_ENTRY(nvEncLockBitstream);
    TAV_RECORD_ENTRY(nvEncUnlockBitstream);
    TAV_RECORD_ENTRY(nvEncLockInputBuffer);
    TAV_RECORD_ENTRY(nvEncUnlockInputBuffer);
    TAV_RECORD_ENTRY(nvEncGetEncodeStats);
    TAV_RECORD_ENTRY(nvEncGetSequenceParams);
    TAV_RECORD_ENTRY(nvEncRegisterAsyncEvent);
    TAV_RECORD_ENTRY(nvEncUnregisterAsyncEvent);
    TAV_RECORD_ENTRY(nvEncMapInputResource);
    TAV_RECORD_ENTRY(nvEncUnmapInputResource);
    TAV_RECORD_ENTRY(nvEncDestroyEncoder);
    TAV_RECORD_ENTRY(nvEncInvalidateRefFrames);
    TAV_RECORD_ENTRY(nvEncOpenEncodeSessionEx);
    TAV_RECORD_ENTRY(nvEncRegisterResource);
    TAV_RECORD_ENTRY(nvEncUnregisterResource);
    TAV_RECORD_ENTRY(nvEncReconfigureEncoder);
    TAV_RECORD_ENTRY(nvEncCreateMVBuffer);
    TAV_RECORD_ENTRY(nvEncDestroyMVBuffer);
    TAV_RECORD_ENTRY(nvEncRunMotionEstimationOnly);
}

__attribute__((constructor)) void mapped() { ++standIn().loads; }
__attribute__((destructor)) void unmapped() { ++standIn().unloads; }

}  // namespace

#ifndef TAV_STANDIN_WITHOUT_CREATE_INSTANCE
__attribute__((visibility("default"))) NVENCSTATUS NVENCAPI NvEncodeAPICreateInstance(List* functionList)
{
    constexpr std::uint32_t functionListVersion = 0x71020008;
    ++standIn().createInstanceCalls;
    if (standIn().createInstanceHook != nullptr) {
        standIn().createInstanceHook();
    }
    if (functionList == nullptr) {
        return NV_ENC_ERR_INVALID_PTR;
    }
    standIn().listVersionSeen = functionList->version;
    if (functionList->version != functionListVersion) {
        return NV_ENC_ERR_INVALID_VERSION;
    }
    if (standIn().createInstanceStatus != NV_ENC_SUCCESS) {
        return standIn().createInstanceStatus;
    }
    fill(functionList);
    for (const std::size_t entry : standIn().entriesLeftEmpty) {
        std::memset(reinterpret_cast<unsigned char*>(functionList) + entry, 0, sizeof(void*));
    }
    return NV_ENC_SUCCESS;
}
#endif

#ifndef TAV_STANDIN_WITHOUT_MAX_SUPPORTED_VERSION
__attribute__((visibility("default"))) NVENCSTATUS NVENCAPI NvEncodeAPIGetMaxSupportedVersion(std::uint32_t* version)
{
    ++standIn().maxSupportedVersionCalls;
    if (version == nullptr) {
        return NV_ENC_ERR_INVALID_PTR;
    }
    *version = (8u << 4) | 1u;
    return NV_ENC_SUCCESS;
}
#endif
