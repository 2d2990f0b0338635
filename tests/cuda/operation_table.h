// The 29 operations as data: each with the entry point it must reach, its line and a call with distinct
// arguments. Out-parameters point into one block that tests can compare before and after.
#pragma once

#include "cuda_test_support.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace tav::test::cuda {

struct OutParameters {
    int integer;
    CUdevice device;
    size_t bytes;
    CUcontext context;
    CUstream stream;
    CUdeviceptr pointer;
    char name[16];
};

struct Operation {
    const char* name;
    Entry entry;
    int line;
    std::function<Result(Cuda&)> call;
    std::vector<std::uint64_t> arguments;
};

template <class... Parameters, class... Arguments>
Operation operation(const char* name, Entry entry, int line, Result (Cuda::*member)(Parameters...) noexcept,
                    Arguments... arguments)
{
    return {name, entry, line, [=](Cuda& cuda) { return (cuda.*member)(static_cast<Parameters>(arguments)...); },
            {bits(static_cast<Parameters>(arguments))...}};
}

inline std::vector<Operation> operations(OutParameters& out)
{
    static const CUDA_MEMCPY2D copy2D{};
    static const CUDA_MEMCPY3D copy3D{};
    static const CUDA_MEMCPY3D_PEER copyPeer{};
    static const char source[8] = "source";
    const auto context = reinterpret_cast<CUcontext>(std::uintptr_t{0xc0c0});
    const auto stream = reinterpret_cast<CUstream>(std::uintptr_t{0x5757});
    const CUdeviceptr device = 0xdead0000beefULL;
    return {
        operation("driverGetVersion", Entry::cuDriverGetVersion, 123, &Cuda::driverGetVersion, &out.integer),
        operation("deviceGet", Entry::cuDeviceGet, 139, &Cuda::deviceGet, &out.device, -3),
        operation("deviceGetName", Entry::cuDeviceGetName, 148, &Cuda::deviceGetName, out.name,
                  static_cast<int>(sizeof out.name), 2),
        operation("deviceGetCount", Entry::cuDeviceGetCount, 157, &Cuda::deviceGetCount, &out.integer),
        operation("deviceTotalMem", Entry::cuDeviceTotalMem_v2, 166, &Cuda::deviceTotalMem, &out.bytes, 4),
        operation("deviceGetAttribute", Entry::cuDeviceGetAttribute, 175, &Cuda::deviceGetAttribute, &out.integer,
                  CU_DEVICE_ATTRIBUTE_PCI_BUS_ID, 5),
        operation("ctxCreate", Entry::cuCtxCreate_v2, 184, &Cuda::ctxCreate, &out.context, 0x80000004u, 6),
        operation("ctxDestroy", Entry::cuCtxDestroy_v2, 193, &Cuda::ctxDestroy, context),
        operation("ctxPushCurrent", Entry::cuCtxPushCurrent_v2, 202, &Cuda::ctxPushCurrent, context),
        operation("ctxPopCurrent", Entry::cuCtxPopCurrent_v2, 211, &Cuda::ctxPopCurrent, &out.context),
        operation("ctxSetCurrent", Entry::cuCtxSetCurrent, 220, &Cuda::ctxSetCurrent, CUcontext{}),
        operation("ctxGetCurrent", Entry::cuCtxGetCurrent, 229, &Cuda::ctxGetCurrent, &out.context),
        operation("ctxGetDevice", Entry::cuCtxGetDevice, 238, &Cuda::ctxGetDevice, &out.device),
        operation("ctxSynchronize", Entry::cuCtxSynchronize, 247, &Cuda::ctxSynchronize),
        operation("memAlloc", Entry::cuMemAlloc_v2, 256, &Cuda::memAlloc, &out.pointer, size_t{1} << 40),
        operation("memFree", Entry::cuMemFree_v2, 265, &Cuda::memFree, device),
        operation("memcpyHtoD", Entry::cuMemcpyHtoD_v2, 274, &Cuda::memcpyHtoD, device,
                  static_cast<const void*>(source), size_t{7}),
        operation("memcpyDtoH", Entry::cuMemcpyDtoH_v2, 283, &Cuda::memcpyDtoH, static_cast<void*>(out.name), device,
                  size_t{0}),
        operation("memcpyDtoHAsync", Entry::cuMemcpyDtoHAsync_v2, 292, &Cuda::memcpyDtoHAsync,
                  static_cast<void*>(out.name), device + 1, size_t{16}, stream),
        operation("memcpyDtoDAsync", Entry::cuMemcpyDtoDAsync_v2, 301, &Cuda::memcpyDtoDAsync, device, device + 8,
                  ~size_t{0}, stream),
        operation("memcpy2D", Entry::cuMemcpy2D_v2, 310, &Cuda::memcpy2D, &copy2D),
        operation("memcpy2DAsync", Entry::cuMemcpy2DAsync_v2, 319, &Cuda::memcpy2DAsync, &copy2D, stream),
        operation("memcpy3DAsync", Entry::cuMemcpy3DAsync_v2, 328, &Cuda::memcpy3DAsync, &copy3D, CUstream{}),
        operation("memcpy3DPeerAsync", Entry::cuMemcpy3DPeerAsync, 337, &Cuda::memcpy3DPeerAsync, &copyPeer, stream),
        operation("memsetD8Async", Entry::cuMemsetD8Async, 346, &Cuda::memsetD8Async, device,
                  static_cast<unsigned char>(0xab), size_t{99}, stream),
        operation("memsetD2D8Async", Entry::cuMemsetD2D8Async, 355, &Cuda::memsetD2D8Async, device, size_t{512},
                  static_cast<unsigned char>(0xff), size_t{300}, size_t{200}, stream),
        operation("streamCreate", Entry::cuStreamCreate, 364, &Cuda::streamCreate, &out.stream, 1u),
        operation("streamSynchronize", Entry::cuStreamSynchronize, 373, &Cuda::streamSynchronize, stream),
        operation("streamDestroy", Entry::cuStreamDestroy_v2, 382, &Cuda::streamDestroy, CUstream{}),
    };
}

}  // namespace tav::test::cuda
