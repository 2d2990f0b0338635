// The capture binding against the real driver. It needs an X screen driven by an NVIDIA GPU; anywhere else the
// case is skipped with the error the capture library gave.
#include "driver.h"

#include <tav/nvidia/nvfbc>


namespace {

using tav::nvidia::NvFBC;
using tav::test::gpu::messageOf;
using tav::test::gpu::succeeded;
using tav::test::gpu::zeroed;

class CaptureDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto create = zeroed<NVFBC_CREATE_HANDLE_PARAMS>();
        if (auto created = NvFBC::instance().createHandle(&handle_, &create); created.has_error()) {
            GTEST_SKIP() << "no capture session: " << messageOf(created);
        }
        open_ = true;
    }

    void TearDown() override
    {
        if (open_) {
            auto destroy = zeroed<NVFBC_DESTROY_HANDLE_PARAMS>();
            EXPECT_TRUE(succeeded(NvFBC::instance().destroyHandle(handle_, &destroy)));
        }
    }

    unsigned long handle_ = 0;
    bool open_ = false;
};

TEST_F(CaptureDriver, GrabsOneFrameOfTheScreenToSystemMemory)
{
    NvFBC& nvfbc = NvFBC::instance();
    auto status = zeroed<NVFBC_GET_STATUS_PARAMS>();
    ASSERT_TRUE(succeeded(nvfbc.getStatus(handle_, &status)));
    if (status.bIsCapturePossible != NVFBC_TRUE) {
        GTEST_SKIP() << "the capture library reports that capture is not possible on this screen";
    }

    auto session = zeroed<NVFBC_CREATE_CAPTURE_SESSION_PARAMS>();
    session.eCaptureType = NVFBC_CAPTURE_TO_SYS;
    session.eTrackingType = NVFBC_TRACKING_DEFAULT;
    session.dwSamplingRateMs = 16;
    ASSERT_TRUE(succeeded(nvfbc.createCaptureSession(handle_, &session)));

    void* buffer = nullptr;
    auto setUp = zeroed<NVFBC_TOSYS_SETUP_PARAMS>();
    setUp.eBufferFormat = NVFBC_BUFFER_FORMAT_RGB;
    setUp.ppBuffer = &buffer;
    auto info = zeroed<NVFBC_FRAME_GRAB_INFO>();
    auto grab = zeroed<NVFBC_TOSYS_GRAB_FRAME_PARAMS>();
    grab.dwFlags = NVFBC_TOSYS_GRAB_FLAGS_NOWAIT;
    grab.pFrameGrabInfo = &info;
    EXPECT_TRUE(succeeded(nvfbc.toSysSetUp(handle_, &setUp)));
    EXPECT_TRUE(succeeded(nvfbc.toSysGrabFrame(handle_, &grab)));
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(info.dwWidth, status.screenSize.w);
    EXPECT_EQ(info.dwHeight, status.screenSize.h);

    auto destroy = zeroed<NVFBC_DESTROY_CAPTURE_SESSION_PARAMS>();
    EXPECT_TRUE(succeeded(nvfbc.destroyCaptureSession(handle_, &destroy)));
}

}  // namespace
