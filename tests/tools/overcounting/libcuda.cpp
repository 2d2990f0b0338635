// A CUDA driver with one device, on which contexts can be made, for the probe to reach the encoder's
// enumerations. The entry points the probe never calls only need to exist.
#include <cstddef>

#define TAV_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int context;
}

TAV_STANDIN_EXPORT int cuInit(unsigned int) { return 0; }
TAV_STANDIN_EXPORT int cuDriverGetVersion(int* version)
{
    *version = 12020;
    return 0;
}
TAV_STANDIN_EXPORT int cuGetErrorString(int, const char** text)
{
    *text = "stand-in failure";
    return 0;
}
TAV_STANDIN_EXPORT int cuDeviceGetCount(int* count)
{
    *count = 1;
    return 0;
}
TAV_STANDIN_EXPORT int cuDeviceGet(int* device, int ordinal)
{
    *device = ordinal;
    return 0;
}
TAV_STANDIN_EXPORT int cuDeviceGetName(char* name, int length, int)
{
    if (length > 0) {
        name[0] = '\0';
    }
    return 0;
}
TAV_STANDIN_EXPORT int cuDeviceTotalMem_v2(std::size_t* bytes, int)
{
    *bytes = 0;
    return 0;
}
TAV_STANDIN_EXPORT int cuDeviceGetAttribute(int* value, int, int)
{
    *value = 0;
    return 0;
}
TAV_STANDIN_EXPORT int cuCtxCreate_v2(void** created, unsigned int, int)
{
    *created = &context;
    return 0;
}
TAV_STANDIN_EXPORT int cuCtxDestroy_v2(void*) { return 0; }

#define TAV_UNUSED_ENTRY(name) \
    TAV_STANDIN_EXPORT int name() { return 0; }
TAV_UNUSED_ENTRY(cuCtxPushCurrent_v2)
TAV_UNUSED_ENTRY(cuCtxPopCurrent_v2)
TAV_UNUSED_ENTRY(cuCtxSetCurrent)
TAV_UNUSED_ENTRY(cuCtxGetCurrent)
TAV_UNUSED_ENTRY(cuCtxGetDevice)
TAV_UNUSED_ENTRY(cuCtxSynchronize)
TAV_UNUSED_ENTRY(cuMemAlloc_v2)
TAV_UNUSED_ENTRY(cuMemFree_v2)
TAV_UNUSED_ENTRY(cuMemcpyHtoD_v2)
TAV_UNUSED_ENTRY(cuMemcpyDtoH_v2)
TAV_UNUSED_ENTRY(cuMemcpyDtoHAsync_v2)
TAV_UNUSED_ENTRY(cuMemcpyDtoDAsync_v2)
TAV_UNUSED_ENTRY(cuMemcpy2D_v2)
TAV_UNUSED_ENTRY(cuMemcpy2DAsync_v2)
TAV_UNUSED_ENTRY(cuMemcpy3DAsync_v2)
TAV_UNUSED_ENTRY(cuMemcpy3DPeerAsync)
TAV_UNUSED_ENTRY(cuMemsetD8Async)
TAV_UNUSED_ENTRY(cuMemsetD2D8Async)
TAV_UNUSED_ENTRY(cuStreamCreate)
TAV_UNUSED_ENTRY(cuStreamSynchronize)
TAV_UNUSED_ENTRY(cuStreamDestroy_v2)
