// An encoder library that does nothing: instance creation succeeds, and the entry the benchmarks call succeeds at
// once without recording anything.
#include <ffnvcodec/nvEncodeAPI.h>

#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

NVENCSTATUS NVENCAPI unlockBitstream(void*, void*) { return NV_ENC_SUCCESS; }

}  // namespace

TAV_BENCH_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPICreateInstance(NV_ENCODE_API_FUNCTION_LIST* list)
{
    list->nvEncUnlockBitstream = unlockBitstream;
    return NV_ENC_SUCCESS;
}

TAV_BENCH_EXPORT NVENCSTATUS NVENCAPI NvEncodeAPIGetMaxSupportedVersion(uint32_t* version)
{
    *version = (8u << 4) | 1u;
    return NV_ENC_SUCCESS;
}
