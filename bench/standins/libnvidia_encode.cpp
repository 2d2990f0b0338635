// An encoder library that does nothing: instance creation succeeds and fills every entry the binding requires, and
// each entry succeeds at once without recording anything.
#include <ffnvcodec/nvEncodeAPI.h>

#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

template <class... Args>
NVENCSTATUS NVENCAPI succeed(Args...)
{
    return NV_ENC_SUCCESS;
}

template <class... Args>
void fill(NVENCSTATUS(NVENCAPI*& entry)(Args...))
{
    entry = succeed<Args...>;
}

}  // namespace

TAV_BENCH_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPICreateInstance(NV_ENCODE_API_FUNCTION_LIST* list)
{
    // The binding refuses a list with an empty entry.
    fill(list->nvEncGetEncodeGUIDCount);
    fill(list->nvEncGetEncodeGUIDs);
    fill(list->nvEncGetEncodeProfileGUIDCount);
    fill(list->nvEncGetEncodeProfileGUIDs);
    fill(list->nvEncGetInputFormatCount);
    fill(list->nvEncGetInputFormats);
    fill(list->nvEncGetEncodeCaps);
    fill(list->nvEncGetEncodePresetCount);
    fill(list->nvEncGetEncodePresetGUIDs);
    fill(list->nvEncGetEncodePresetConfig);
    fill(list->nvEncInitializeEncoder);
    fill(list->nvEncCreateInputBuffer);
    fill(list->nvEncDestroyInputBuffer);
    fill(list->nvEncCreateBitstreamBuffer);
    fill(list->nvEncDestroyBitstreamBuffer);
    fill(list->nvEncEncodePicture);
    fill(list->nvEncLockBitstream);
    fill(list->nvEncUnlockBitstream);
    fill(list->nvEncLockInputBuffer);
    fill(list->nvEncUnlockInputBuffer);
    fill(list->nvEncGetEncodeStats);
    fill(list->nvEncGetSequenceParams);
    fill(list->nvEncRegisterAsyncEvent);
    fill(list->nvEncUnregisterAsyncEvent);
    fill(list->nvEncMapInputResource);
    fill(list->nvEncUnmapInputResource);
    fill(list->nvEncDestroyEncoder);
    fill(list->nvEncInvalidateRefFrames);
    fill(list->nvEncOpenEncodeSessionEx);
    fill(list->nvEncRegisterResource);
    fill(list->nvEncUnregisterResource);
    fill(list->nvEncReconfigureEncoder);
    fill(list->nvEncCreateMVBuffer);
    fill(list->nvEncDestroyMVBuffer);
    fill(list->nvEncRunMotionEstimationOnly);
    return NV_ENC_SUCCESS;
}

TAV_BENCH_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPIGetMaxSupportedVersion(uint32_t* version)
{
    *version = (8u << 4) | 1u;
    return NV_ENC_SUCCESS;
}
