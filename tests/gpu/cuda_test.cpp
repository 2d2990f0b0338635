// The CUDA binding against the real driver: devices, contexts, memory, copies, streams and the driver's own errors.
#include "driver.h"

#include "log_capture.h"

#include <tav/nvidia/cuda>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using tav::nvidia::Cuda;
using tav::test::LogCapture;
using tav::test::gpu::CudaContextTest;
using tav::test::gpu::domainOf;
using tav::test::gpu::messageOf;
using tav::test::gpu::succeeded;
using tav::test::gpu::zeroed;

// Bytes that vary along the buffer, so that a byte copied to or filled at the wrong place shows.
std::vector<uint8_t> pattern(std::size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
    }
    return bytes;
}

// Device memory owned by a case, freed at its end.
class DeviceBuffer {
public:
    explicit DeviceBuffer(std::size_t size) : size_(size)
    {
        EXPECT_TRUE(succeeded(Cuda::instance().memAlloc(&pointer_, size)));
    }
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;
    ~DeviceBuffer()
    {
        if (pointer_ != 0) {
            EXPECT_TRUE(succeeded(Cuda::instance().memFree(pointer_)));
        }
    }

    CUdeviceptr get() const { return pointer_; }

    std::vector<uint8_t> read() const
    {
        std::vector<uint8_t> bytes(size_);
        EXPECT_TRUE(succeeded(Cuda::instance().memcpyDtoH(bytes.data(), pointer_, size_)));
        return bytes;
    }

private:
    CUdeviceptr pointer_ = 0;
    std::size_t size_;
};

// A stream owned by a case. A blocking one, so that its work waits for the synchronous copies before it.
class Stream {
public:
    Stream() { EXPECT_TRUE(succeeded(Cuda::instance().streamCreate(&stream_, 0))); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { EXPECT_TRUE(succeeded(Cuda::instance().streamDestroy(stream_))); }

    CUstream get() const { return stream_; }

private:
    CUstream stream_ = nullptr;
};

std::string afterPrefix(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : std::string();
}

// The text of the one debug record that announced a new error.
std::string creationRecord(const LogCapture& capture)
{
    const auto records = capture.records(spdlog::level::debug);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? std::string() : records.front().text;
}

using CudaDevices = CudaContextTest;
using CudaContexts = CudaContextTest;
using CudaMemory = CudaContextTest;
using CudaErrors = CudaContextTest;

TEST_F(CudaDevices, ReportVersionNamesMemoryAndComputeCapability)
{
    Cuda& cuda = Cuda::instance();
    int version = 0;
    ASSERT_TRUE(succeeded(cuda.driverGetVersion(&version)));
    EXPECT_GE(version, 1000);

    int count = 0;
    ASSERT_TRUE(succeeded(cuda.deviceGetCount(&count)));
    ASSERT_GE(count, 1);
    for (int ordinal = 0; ordinal < count; ++ordinal) {
        CUdevice device = -1;
        ASSERT_TRUE(succeeded(cuda.deviceGet(&device, ordinal)));
        char name[256] = {};
        ASSERT_TRUE(succeeded(cuda.deviceGetName(name, sizeof(name) - 1, device)));
        std::size_t bytes = 0;
        ASSERT_TRUE(succeeded(cuda.deviceTotalMem(&bytes, device)));
        int major = 0;
        int minor = -1;
        ASSERT_TRUE(succeeded(cuda.deviceGetAttribute(&major, CU_DEVICE_ATTRIBUTE_COMPUTE_CAPABILITY_MAJOR, device)));
        ASSERT_TRUE(succeeded(cuda.deviceGetAttribute(&minor, CU_DEVICE_ATTRIBUTE_COMPUTE_CAPABILITY_MINOR, device)));

        EXPECT_GT(std::strlen(name), 0u);
        EXPECT_GE(bytes, std::size_t{256} << 20);
        EXPECT_GE(major, 3);
        EXPECT_GE(minor, 0);
        std::printf("device %d: %s, %zu MiB, compute capability %d.%d, driver %d\n", ordinal, name, bytes >> 20,
                    major, minor, version);
    }
}

TEST_F(CudaContexts, CreatePushPopSetGetAndDestroy)
{
    Cuda& cuda = Cuda::instance();
    CUcontext current = nullptr;
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, context_);
    CUdevice device = -1;
    ASSERT_TRUE(succeeded(cuda.ctxGetDevice(&device)));
    EXPECT_EQ(device, device_);

    // A new context becomes current on top of the first.
    CUcontext second = nullptr;
    ASSERT_TRUE(succeeded(cuda.ctxCreate(&second, CU_CTX_SCHED_BLOCKING_SYNC, device_)));
    ASSERT_NE(second, context_);
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, second);

    CUcontext popped = nullptr;
    ASSERT_TRUE(succeeded(cuda.ctxPopCurrent(&popped)));
    EXPECT_EQ(popped, second);
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, context_);

    ASSERT_TRUE(succeeded(cuda.ctxPushCurrent(second)));
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, second);
    ASSERT_TRUE(succeeded(cuda.ctxSynchronize()));
    ASSERT_TRUE(succeeded(cuda.ctxPopCurrent(&popped)));
    EXPECT_EQ(popped, second);

    ASSERT_TRUE(succeeded(cuda.ctxSetCurrent(second)));
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, second);
    ASSERT_TRUE(succeeded(cuda.ctxSetCurrent(context_)));
    ASSERT_TRUE(succeeded(cuda.ctxGetCurrent(&current)));
    EXPECT_EQ(current, context_);

    EXPECT_TRUE(succeeded(cuda.ctxDestroy(second)));
}

TEST_F(CudaMemory, HostToDeviceAndBack)
{
    constexpr std::size_t size = 1 << 20;
    const std::vector<uint8_t> sent = pattern(size, 3);
    DeviceBuffer buffer(size);
    ASSERT_TRUE(succeeded(Cuda::instance().memcpyHtoD(buffer.get(), sent.data(), size)));
    EXPECT_EQ(buffer.read(), sent);
}

TEST_F(CudaMemory, DeviceToDeviceCopyAndFillOnAStream)
{
    Cuda& cuda = Cuda::instance();
    constexpr std::size_t size = 64 << 10;
    const std::vector<uint8_t> sent = pattern(size, 11);
    DeviceBuffer source(size);
    DeviceBuffer destination(size);
    Stream stream;
    ASSERT_TRUE(succeeded(cuda.memcpyHtoD(source.get(), sent.data(), size)));

    std::vector<uint8_t> copied(size);
    ASSERT_TRUE(succeeded(cuda.memcpyDtoDAsync(destination.get(), source.get(), size, stream.get())));
    ASSERT_TRUE(succeeded(cuda.memsetD8Async(source.get() + size / 4, 0x5a, size / 2, stream.get())));
    ASSERT_TRUE(succeeded(cuda.memcpyDtoHAsync(copied.data(), destination.get(), size, stream.get())));
    ASSERT_TRUE(succeeded(cuda.streamSynchronize(stream.get())));

    EXPECT_EQ(copied, sent);
    std::vector<uint8_t> filled = sent;
    std::fill_n(filled.begin() + size / 4, size / 2, uint8_t{0x5a});
    EXPECT_EQ(source.read(), filled);
}

TEST_F(CudaMemory, Fill2DTouchesOnlyItsRectangle)
{
    constexpr std::size_t pitch = 512;
    constexpr std::size_t rows = 64;
    constexpr std::size_t left = 40;
    constexpr std::size_t top = 5;
    constexpr std::size_t width = 100;
    constexpr std::size_t height = 30;
    const std::vector<uint8_t> sent = pattern(pitch * rows, 17);
    DeviceBuffer buffer(pitch * rows);
    Stream stream;
    Cuda& cuda = Cuda::instance();
    ASSERT_TRUE(succeeded(cuda.memcpyHtoD(buffer.get(), sent.data(), sent.size())));
    ASSERT_TRUE(succeeded(
        cuda.memsetD2D8Async(buffer.get() + top * pitch + left, pitch, 0xc3, width, height, stream.get())));
    ASSERT_TRUE(succeeded(cuda.streamSynchronize(stream.get())));

    std::vector<uint8_t> expected = sent;
    for (std::size_t y = top; y < top + height; ++y) {
        std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(y * pitch + left), width, uint8_t{0xc3});
    }
    EXPECT_EQ(buffer.read(), expected);
}

// Rows of copyWidth bytes, stored with a pitch on each side: what a pitched copy must carry and what it must leave
// alone. A 3D copy stacks depth such slices of copyHeight rows.
constexpr std::size_t copyWidth = 200;
constexpr std::size_t copyHeight = 24;
constexpr std::size_t hostPitch = 256;
constexpr std::size_t devicePitch = 384;

std::vector<uint8_t> rowsOf(const std::vector<uint8_t>& pitched, std::size_t pitch, std::size_t height)
{
    std::vector<uint8_t> rows;
    for (std::size_t y = 0; y < height; ++y) {
        rows.insert(rows.end(), pitched.begin() + static_cast<std::ptrdiff_t>(y * pitch),
                    pitched.begin() + static_cast<std::ptrdiff_t>(y * pitch + copyWidth));
    }
    return rows;
}

// One end of a pitched copy: host memory when host is set, device memory otherwise.
struct End {
    const void* host;
    CUdeviceptr device;
    std::size_t pitch;
};

End onHost(const std::vector<uint8_t>& bytes) { return End{bytes.data(), 0, hostPitch}; }
End onDevice(const DeviceBuffer& buffer) { return End{nullptr, buffer.get(), devicePitch}; }

// A descriptor of any of the three copy kinds; the 3D ones get depth slices.
template <class Copy>
Copy pitchedCopy(const End& source, const End& destination, std::size_t depth = 1)
{
    Copy copy = zeroed<Copy>();
    copy.srcMemoryType = source.host != nullptr ? CU_MEMORYTYPE_HOST : CU_MEMORYTYPE_DEVICE;
    copy.srcHost = source.host;
    copy.srcDevice = source.device;
    copy.srcPitch = source.pitch;
    copy.dstMemoryType = destination.host != nullptr ? CU_MEMORYTYPE_HOST : CU_MEMORYTYPE_DEVICE;
    // The destination's host memory is the caller's to write.
    copy.dstHost = const_cast<void*>(destination.host);
    copy.dstDevice = destination.device;
    copy.dstPitch = destination.pitch;
    copy.WidthInBytes = copyWidth;
    copy.Height = copyHeight;
    if constexpr (!std::is_same_v<Copy, CUDA_MEMCPY2D>) {
        copy.srcHeight = copyHeight;
        copy.dstHeight = copyHeight;
        copy.Depth = depth;
    }
    return copy;
}

TEST_F(CudaMemory, Copies2DBetweenPitchedBuffers)
{
    Cuda& cuda = Cuda::instance();
    const std::vector<uint8_t> sent = pattern(hostPitch * copyHeight, 23);
    std::vector<uint8_t> received(hostPitch * copyHeight, 0);
    DeviceBuffer buffer(devicePitch * copyHeight);
    Stream stream;

    const auto up = pitchedCopy<CUDA_MEMCPY2D>(onHost(sent), onDevice(buffer));
    ASSERT_TRUE(succeeded(cuda.memcpy2D(&up)));
    const auto down = pitchedCopy<CUDA_MEMCPY2D>(onDevice(buffer), onHost(received));
    ASSERT_TRUE(succeeded(cuda.memcpy2DAsync(&down, stream.get())));
    ASSERT_TRUE(succeeded(cuda.streamSynchronize(stream.get())));

    EXPECT_EQ(rowsOf(received, hostPitch, copyHeight), rowsOf(sent, hostPitch, copyHeight));
    EXPECT_EQ(rowsOf(buffer.read(), devicePitch, copyHeight), rowsOf(sent, hostPitch, copyHeight));
}

TEST_F(CudaMemory, Copies3DAndPeer3DWithinOneContext)
{
    constexpr std::size_t depth = 3;
    Cuda& cuda = Cuda::instance();
    const std::vector<uint8_t> sent = pattern(hostPitch * copyHeight * depth, 29);
    std::vector<uint8_t> received(sent.size(), 0);
    DeviceBuffer first(devicePitch * copyHeight * depth);
    DeviceBuffer second(devicePitch * copyHeight * depth);
    Stream stream;

    const auto up = pitchedCopy<CUDA_MEMCPY3D>(onHost(sent), onDevice(first), depth);
    ASSERT_TRUE(succeeded(cuda.memcpy3DAsync(&up, stream.get())));
    auto across = pitchedCopy<CUDA_MEMCPY3D_PEER>(onDevice(first), onDevice(second), depth);
    across.srcContext = context_;
    across.dstContext = context_;
    ASSERT_TRUE(succeeded(cuda.memcpy3DPeerAsync(&across, stream.get())));
    const auto down = pitchedCopy<CUDA_MEMCPY3D>(onDevice(second), onHost(received), depth);
    ASSERT_TRUE(succeeded(cuda.memcpy3DAsync(&down, stream.get())));
    ASSERT_TRUE(succeeded(cuda.streamSynchronize(stream.get())));

    EXPECT_EQ(rowsOf(received, hostPitch, copyHeight * depth), rowsOf(sent, hostPitch, copyHeight * depth));
}

TEST_F(CudaErrors, MemFreeOfARejectedPointerCarriesTheDriversText)
{
    DeviceBuffer buffer(4096);
    LogCapture capture;
    const auto freed = Cuda::instance().memFree(buffer.get() + 16);
    ASSERT_TRUE(freed.has_error());
    EXPECT_EQ(domainOf(freed), "cuda error domain");
    const std::string driverText = afterPrefix(messageOf(freed), "CUDA failed: ");
    EXPECT_FALSE(driverText.empty()) << messageOf(freed);
    EXPECT_NE(driverText.rfind("code ", 0), 0u) << "the driver gave no text: " << messageOf(freed);
    EXPECT_NE(creationRecord(capture).find(" (src/cuda:265)\n"), std::string::npos);
}

// The flags matter only on the call that loads: unloadLib first, so that this call does, whatever ran before.
TEST(CudaLoader, InitFlagsOtherThanZeroFailWithTheDriversText)
{
    Cuda& cuda = Cuda::instance();
    ASSERT_TRUE(succeeded(cuda.unloadLib()));

    LogCapture capture;
    const auto loaded = cuda.loadLib(1);
    ASSERT_TRUE(loaded.has_error());
    if (domainOf(loaded) == "dl error domain") {
        GTEST_SKIP() << "CUDA driver unavailable: " << messageOf(loaded);
    }
    EXPECT_EQ(domainOf(loaded), "cuda error domain");
    const std::string driverText = afterPrefix(messageOf(loaded), "CUDA failed: ");
    EXPECT_FALSE(driverText.empty()) << messageOf(loaded);
    EXPECT_NE(driverText.rfind("code ", 0), 0u) << "the driver gave no text: " << messageOf(loaded);
    EXPECT_NE(creationRecord(capture).find(" (src/cuda:87)\n"), std::string::npos);

    // The failed load left nothing behind: the next one starts afresh and succeeds, where the driver has a device.
    const auto reloaded = cuda.loadLib(0);
    if (reloaded.has_error()) {
        // CUDA_ERROR_NO_DEVICE, which the codec headers' CUresult does not name.
        constexpr int noDevice = 100;
        using CudaCode = system_error2::status_code<tav::nvidia::detail::cuda_error_domain>;
        const auto* typed = system_error2::get_if<CudaCode>(&reloaded.error());
        if (typed != nullptr && static_cast<int>(typed->value().status) == noDevice) {
            GTEST_SKIP() << "no CUDA device: " << messageOf(reloaded);
        }
    }
    EXPECT_TRUE(succeeded(reloaded));
    int count = 0;
    EXPECT_TRUE(succeeded(cuda.deviceGetCount(&count)));
}

}  // namespace
