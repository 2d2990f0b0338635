// A stand-in for the CUDA driver library: exports the 31 entry points the binding resolves, answers with the
// statuses the test chose and records every call with its arguments.
#include "standin_control.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace control = tav::test::cuda;
using control::Entry;

namespace {

template <class... Arguments>
CUresult record(Entry entry, Arguments... arguments)
{
    return static_cast<CUresult>(control::recordCall(entry, {control::bits(arguments)...}));
}

// The text lives in this library, as a real driver's does: it is gone once the library is closed. Room for the
// hostile-driver tests' text of 1 MiB.
char errorTextBuffer[(2 << 20) + 1];

__attribute__((constructor)) void opened() { control::noteOpened(); }
__attribute__((destructor)) void closed() { control::noteClosed(); }

}  // namespace

#define TAV_STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

TAV_STANDIN_EXPORT CUresult cuInit(unsigned int flags)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(control::initDelayMilliseconds()));
    if (void (*hook)() = control::initHook()) {
        hook();
    }
    return record(Entry::cuInit, flags);
}

TAV_STANDIN_EXPORT CUresult cuGetErrorString(CUresult status, const char** text)
{
    switch (control::errorTextMode()) {
    case control::TextMode::text:
        std::snprintf(errorTextBuffer, sizeof errorTextBuffer, "%s", control::errorText());
        *text = errorTextBuffer;
        break;
    case control::TextMode::null:
        *text = nullptr;
        break;
    case control::TextMode::untouched:
        break;
    }
    return record(Entry::cuGetErrorString, status);
}

TAV_STANDIN_EXPORT CUresult cuDriverGetVersion(int* version)
{
    const CUresult status = record(Entry::cuDriverGetVersion, version);
    if (status == CUDA_SUCCESS) {
        *version = 12040;
    }
    return status;
}

TAV_STANDIN_EXPORT CUresult cuDeviceGet(CUdevice* device, int ordinal)
{
    return record(Entry::cuDeviceGet, device, ordinal);
}
TAV_STANDIN_EXPORT CUresult cuDeviceGetCount(int* count) { return record(Entry::cuDeviceGetCount, count); }
TAV_STANDIN_EXPORT CUresult cuDeviceGetName(char* name, int length, CUdevice device)
{
    return record(Entry::cuDeviceGetName, name, length, device);
}
TAV_STANDIN_EXPORT CUresult cuDeviceTotalMem_v2(size_t* bytes, CUdevice device)
{
    return record(Entry::cuDeviceTotalMem_v2, bytes, device);
}
TAV_STANDIN_EXPORT CUresult cuDeviceGetAttribute(int* value, CUdevice_attribute attribute, CUdevice device)
{
    return record(Entry::cuDeviceGetAttribute, value, attribute, device);
}
TAV_STANDIN_EXPORT CUresult cuCtxCreate_v2(CUcontext* context, unsigned int flags, CUdevice device)
{
    return record(Entry::cuCtxCreate_v2, context, flags, device);
}
TAV_STANDIN_EXPORT CUresult cuCtxDestroy_v2(CUcontext context) { return record(Entry::cuCtxDestroy_v2, context); }
TAV_STANDIN_EXPORT CUresult cuCtxPushCurrent_v2(CUcontext context)
{
    return record(Entry::cuCtxPushCurrent_v2, context);
}
TAV_STANDIN_EXPORT CUresult cuCtxPopCurrent_v2(CUcontext* context)
{
    return record(Entry::cuCtxPopCurrent_v2, context);
}
TAV_STANDIN_EXPORT CUresult cuCtxSetCurrent(CUcontext context) { return record(Entry::cuCtxSetCurrent, context); }
TAV_STANDIN_EXPORT CUresult cuCtxGetCurrent(CUcontext* context) { return record(Entry::cuCtxGetCurrent, context); }
TAV_STANDIN_EXPORT CUresult cuCtxGetDevice(CUdevice* device) { return record(Entry::cuCtxGetDevice, device); }
TAV_STANDIN_EXPORT CUresult cuCtxSynchronize() { return record(Entry::cuCtxSynchronize); }
TAV_STANDIN_EXPORT CUresult cuMemAlloc_v2(CUdeviceptr* pointer, size_t bytes)
{
    return record(Entry::cuMemAlloc_v2, pointer, bytes);
}
TAV_STANDIN_EXPORT CUresult cuMemFree_v2(CUdeviceptr pointer) { return record(Entry::cuMemFree_v2, pointer); }
TAV_STANDIN_EXPORT CUresult cuMemcpyHtoD_v2(CUdeviceptr destination, const void* source, size_t bytes)
{
    return record(Entry::cuMemcpyHtoD_v2, destination, source, bytes);
}
TAV_STANDIN_EXPORT CUresult cuMemcpyDtoH_v2(void* destination, CUdeviceptr source, size_t bytes)
{
    return record(Entry::cuMemcpyDtoH_v2, destination, source, bytes);
}
TAV_STANDIN_EXPORT CUresult cuMemcpyDtoHAsync_v2(void* destination, CUdeviceptr source, size_t bytes, CUstream stream)
{
    return record(Entry::cuMemcpyDtoHAsync_v2, destination, source, bytes, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemcpyDtoDAsync_v2(CUdeviceptr destination, CUdeviceptr source, size_t bytes,
                                                 CUstream stream)
{
    return record(Entry::cuMemcpyDtoDAsync_v2, destination, source, bytes, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemcpy2D_v2(const CUDA_MEMCPY2D* copy) { return record(Entry::cuMemcpy2D_v2, copy); }
TAV_STANDIN_EXPORT CUresult cuMemcpy2DAsync_v2(const CUDA_MEMCPY2D* copy, CUstream stream)
{
    return record(Entry::cuMemcpy2DAsync_v2, copy, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemcpy3DAsync_v2(const CUDA_MEMCPY3D* copy, CUstream stream)
{
    return record(Entry::cuMemcpy3DAsync_v2, copy, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemcpy3DPeerAsync(const CUDA_MEMCPY3D_PEER* copy, CUstream stream)
{
    return record(Entry::cuMemcpy3DPeerAsync, copy, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemsetD8Async(CUdeviceptr destination, unsigned char value, size_t count, CUstream stream)
{
    return record(Entry::cuMemsetD8Async, destination, value, count, stream);
}
TAV_STANDIN_EXPORT CUresult cuMemsetD2D8Async(CUdeviceptr destination, size_t pitch, unsigned char value, size_t width,
                                              size_t height, CUstream stream)
{
    return record(Entry::cuMemsetD2D8Async, destination, pitch, value, width, height, stream);
}
TAV_STANDIN_EXPORT CUresult cuStreamCreate(CUstream* stream, unsigned int flags)
{
    return record(Entry::cuStreamCreate, stream, flags);
}
TAV_STANDIN_EXPORT CUresult cuStreamSynchronize(CUstream stream) { return record(Entry::cuStreamSynchronize, stream); }
TAV_STANDIN_EXPORT CUresult cuStreamDestroy_v2(CUstream stream) { return record(Entry::cuStreamDestroy_v2, stream); }
