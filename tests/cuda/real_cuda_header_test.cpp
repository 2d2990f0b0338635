// A host that includes the real cuda.h before the bindings' headers, as those headers ask. The toolkit is no
// dependency: where the build found no cuda.h, this translation unit declares what cuda.h declares, the way cuda.h
// does, under the same guard macros.
#ifdef TAV_TEST_REAL_CUDA_H
#include <cuda.h>
#else
#define __cuda_cuda_h__
#define CUDA_VERSION 12040

#include <stddef.h>

typedef int CUdevice_v1;
typedef CUdevice_v1 CUdevice;
typedef unsigned long long CUdeviceptr_v2;
typedef CUdeviceptr_v2 CUdeviceptr;
typedef struct CUctx_st* CUcontext;
typedef struct CUstream_st* CUstream;
typedef struct CUarray_st* CUarray;

typedef enum cudaError_enum {
    CUDA_SUCCESS = 0,
    CUDA_ERROR_INVALID_VALUE = 1,
    CUDA_ERROR_NOT_INITIALIZED = 3,
    CUDA_ERROR_UNKNOWN = 999
} CUresult;

typedef enum CUdevice_attribute_enum {
    CU_DEVICE_ATTRIBUTE_MAX_THREADS_PER_BLOCK = 1,
    CU_DEVICE_ATTRIBUTE_MAX
} CUdevice_attribute;

typedef enum CUmemorytype_enum {
    CU_MEMORYTYPE_HOST = 0x01,
    CU_MEMORYTYPE_DEVICE = 0x02,
    CU_MEMORYTYPE_ARRAY = 0x03,
    CU_MEMORYTYPE_UNIFIED = 0x04
} CUmemorytype;

typedef struct CUDA_MEMCPY2D_st {
    size_t srcXInBytes;
    size_t srcY;
    CUmemorytype srcMemoryType;
    const void* srcHost;
    CUdeviceptr srcDevice;
    CUarray srcArray;
    size_t srcPitch;
    size_t dstXInBytes;
    size_t dstY;
    CUmemorytype dstMemoryType;
    void* dstHost;
    CUdeviceptr dstDevice;
    CUarray dstArray;
    size_t dstPitch;
    size_t WidthInBytes;
    size_t Height;
} CUDA_MEMCPY2D_v2;
typedef CUDA_MEMCPY2D_v2 CUDA_MEMCPY2D;

typedef struct CUDA_MEMCPY3D_st {
    size_t srcXInBytes, srcY, srcZ, srcLOD;
    CUmemorytype srcMemoryType;
    const void* srcHost;
    CUdeviceptr srcDevice;
    CUarray srcArray;
    void* reserved0;
    size_t srcPitch, srcHeight;
    size_t dstXInBytes, dstY, dstZ, dstLOD;
    CUmemorytype dstMemoryType;
    void* dstHost;
    CUdeviceptr dstDevice;
    CUarray dstArray;
    void* reserved1;
    size_t dstPitch, dstHeight;
    size_t WidthInBytes, Height, Depth;
} CUDA_MEMCPY3D_v2;
typedef CUDA_MEMCPY3D_v2 CUDA_MEMCPY3D;

typedef struct CUDA_MEMCPY3D_PEER_st {
    size_t srcXInBytes, srcY, srcZ, srcLOD;
    CUmemorytype srcMemoryType;
    const void* srcHost;
    CUdeviceptr srcDevice;
    CUarray srcArray;
    CUcontext srcContext;
    size_t srcPitch, srcHeight;
    size_t dstXInBytes, dstY, dstZ, dstLOD;
    CUmemorytype dstMemoryType;
    void* dstHost;
    CUdeviceptr dstDevice;
    CUarray dstArray;
    CUcontext dstContext;
    size_t dstPitch, dstHeight;
    size_t WidthInBytes, Height, Depth;
} CUDA_MEMCPY3D_PEER_v1;
typedef CUDA_MEMCPY3D_PEER_v1 CUDA_MEMCPY3D_PEER;

// cuda.h maps the unsuffixed names onto the current ABI.
#define cuCtxCreate cuCtxCreate_v2
#define cuMemcpy3DAsync cuMemcpy3DAsync_v2
#endif

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::Result;

// The binding's interface is stated in the host's own types.
static_assert(!std::is_same_v<CUresult, void>);
static_assert(std::is_same_v<decltype(&Cuda::memcpy3DPeerAsync),
                             Result (Cuda::*)(const CUDA_MEMCPY3D_PEER_v1*, CUstream) noexcept>);
static_assert(std::is_same_v<decltype(&Cuda::memcpy3DAsync),
                             Result (Cuda::*)(const CUDA_MEMCPY3D_v2*, CUstream) noexcept>);
static_assert(std::is_same_v<decltype(&Cuda::memcpy2D), Result (Cuda::*)(const CUDA_MEMCPY2D_v2*) noexcept>);
static_assert(sizeof(CUDA_MEMCPY3D) == 200 && sizeof(CUDA_MEMCPY3D_PEER) == 200);

TEST(CudaWithTheRealHeader, UsesTheHostsTypes)
{
    const Result result = Cuda::instance().wrapResult(CUDA_ERROR_NOT_INITIALIZED, "host", 1);
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(result.error().message().c_str(), std::string("CUDA failed: code 3"));
}

// The operations are compiled here, in the host's types; without a driver they report the failed load.
TEST(CudaWithTheRealHeader, InlineOperationsReportTheFailedLoad)
{
    const Result synchronized = Cuda::instance().ctxSynchronize();
    ASSERT_TRUE(synchronized.has_error());
    EXPECT_EQ(std::string(synchronized.error().message().c_str()).rfind("dlopen() failed: libcuda.so: ", 0), 0u);

    const Result unlocked = CuVid::instance().ctxUnlock(nullptr, 0);
    ASSERT_TRUE(unlocked.has_error());
    EXPECT_EQ(unlocked.error().message().c_str(), std::string("Failed to open cuvid"));
}

}  // namespace
