#include "driver.h"

namespace tav::test::gpu {

std::string cudaUnavailable()
{
    tav::nvidia::Cuda& cuda = tav::nvidia::Cuda::instance();
    if (auto loaded = cuda.loadLib(0); loaded.has_error()) {
        return "CUDA driver unavailable: " + messageOf(loaded);
    }
    int count = 0;
    if (auto counted = cuda.deviceGetCount(&count); counted.has_error()) {
        return "no CUDA device: " + messageOf(counted);
    }
    return count > 0 ? std::string() : "no CUDA device";
}

void CudaContextTest::SetUp()
{
    if (const std::string reason = cudaUnavailable(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    tav::nvidia::Cuda& cuda = tav::nvidia::Cuda::instance();
    ASSERT_TRUE(succeeded(cuda.deviceGet(&device_, 0)));
    ASSERT_TRUE(succeeded(cuda.ctxCreate(&context_, 0, device_)));
}

void CudaContextTest::TearDown()
{
    if (context_ != nullptr) {
        EXPECT_TRUE(succeeded(tav::nvidia::Cuda::instance().ctxDestroy(context_)));
    }
}

}  // namespace tav::test::gpu
