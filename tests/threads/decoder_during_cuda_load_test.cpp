// Decoder failures convert their CUDA statuses through the CUDA binding, which they never load, while another thread
// keeps trying to load that binding against a driver whose cuInit fails. The conversion must never see the table of
// a load under way, nor call into the library that the failed load closes again. Under ThreadSanitizer this also
// shows that the conversion reads nothing the load writes.
#include "../cuda/standin_control.h"
#include "../cuvid/standin/control.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::Result;

TEST(DecoderDuringCudaLoad, ConversionsNeverReachTheDriverOfAFailingLoad)
{
    namespace cuda = tav::test::cuda;
    constexpr int loads = 40;
    cuda::setStatus(cuda::Entry::cuInit, 100);
    // A slow cuInit holds each load at the point where the old table was filled but not yet given up.
    cuda::setInitDelayMilliseconds(1);
    tav::test::cuvid::setStatus(1);
    ASSERT_FALSE(CuVid::instance().loadLib().has_error());

    std::atomic<bool> loading{true};
    std::thread loader([&] {
        for (int i = 0; i < loads; ++i) {
            const Result result = Cuda::instance().loadLib(0);
            EXPECT_TRUE(result.has_error() &&
                        std::string(result.error().message().c_str()) == "CUDA failed: stand-in error text");
        }
        loading = false;
    });
    int conversions = 0;
    while (loading) {
        const Result result = CuVid::instance().destroyDecoder(nullptr);
        const std::string message = result.has_error() ? result.error().message().c_str() : "success";
        if (message != "CUDA failed: code 1") {
            ADD_FAILURE() << "conversion " << conversions << " gave: " << message;
            break;
        }
        ++conversions;
    }
    loader.join();

    EXPECT_GT(conversions, 0);
    EXPECT_EQ(cuda::openCount(), loads);
    EXPECT_EQ(cuda::closeCount(), loads);
    // Only the loads asked the driver for a text.
    EXPECT_EQ(cuda::calls(cuda::Entry::cuGetErrorString).size(), static_cast<std::size_t>(loads));
}

}  // namespace
