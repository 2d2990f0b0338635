// A CUDA driver with one device, on which contexts can be made, for the probe to reach the encoder's
// enumerations. The entry points the probe never calls only need to exist.
#include <ffnvcodec/dynlink_cuda.h>

#include <cstddef>

#define TAV_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int context;
}

// The entry points the probe calls have the driver's own types, which the binding calls them through.

TAV_STANDIN_EXPORT CUresult cuInit(unsigned int) { return CUDA_SUCCESS; }
TAV_STANDIN_EXPORT CUresult cuDriverGetVersion(int* version)
{
    *version = 12020;
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuGetErrorString(CUresult, const char** text)
{
    *text = "stand-in failure";
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuDeviceGetCount(int* count)
{
    *count = 1;
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuDeviceGet(CUdevice* device, int ordinal)
{
    *device = ordinal;
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuDeviceGetName(char* name, int length, CUdevice)
{
    if (length > 0) {
        name[0] = '\0';
    }
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuDeviceTotalMem_v2(std::size_t* bytes, CUdevice)
{
    *bytes = 0;
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuDeviceGetAttribute(int* value, CUdevice_attribute, CUdevice)
{
    *value = 0;
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuCtxCreate_v2(CUcontext* created, unsigned int, CUdevice)
{
    *created = reinterpret_cast<CUcontext>(&context);
    return CUDA_SUCCESS;
}
TAV_STANDIN_EXPORT CUresult cuCtxDestroy_v2(CUcontext) { return CUDA_SUCCESS; }

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
