// Grabs one frame of the X screen with the capture library and writes it as a PPM file.
//   grab_frame OUTPUT.ppm
#include "check.h"

#include <tav/nvidia/nvfbc>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

using tav::nvidia::NvFBC;

template <class T>
T zeroed()
{
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

// Three bytes a pixel, counted wide enough for any size the library reports.
std::uint64_t rgbBytes(const NVFBC_FRAME_GRAB_INFO& info)
{
    return std::uint64_t{info.dwWidth} * info.dwHeight * 3;
}

// Whether the library gave a buffer that holds the whole frame it reported; the frame is written only then.
bool holdsFrame(const void* buffer, const NVFBC_FRAME_GRAB_INFO& info)
{
    if (buffer == nullptr) {
        std::fprintf(stderr, "toSysGrabFrame gave no frame buffer\n");
        return false;
    }
    if (info.dwByteSize < rgbBytes(info)) {
        std::fprintf(stderr, "toSysGrabFrame gave %u bytes for a %ux%u frame\n", info.dwByteSize, info.dwWidth,
                     info.dwHeight);
        return false;
    }
    return true;
}

bool grab(NvFBC& nvfbc, unsigned long handle, const char* path)
{
    auto session = zeroed<NVFBC_CREATE_CAPTURE_SESSION_PARAMS>();
    session.eCaptureType = NVFBC_CAPTURE_TO_SYS;
    session.eTrackingType = NVFBC_TRACKING_DEFAULT;
    session.dwSamplingRateMs = 16;
    if (!succeeded(nvfbc.createCaptureSession(handle, &session), "createCaptureSession")) {
        return false;
    }
    void* buffer = nullptr;
    auto setUp = zeroed<NVFBC_TOSYS_SETUP_PARAMS>();
    setUp.eBufferFormat = NVFBC_BUFFER_FORMAT_RGB;
    setUp.ppBuffer = &buffer;
    auto info = zeroed<NVFBC_FRAME_GRAB_INFO>();
    auto frame = zeroed<NVFBC_TOSYS_GRAB_FRAME_PARAMS>();
    frame.dwFlags = NVFBC_TOSYS_GRAB_FLAGS_NOWAIT;
    frame.pFrameGrabInfo = &info;
    bool ok = succeeded(nvfbc.toSysSetUp(handle, &setUp), "toSysSetUp") &&
              succeeded(nvfbc.toSysGrabFrame(handle, &frame), "toSysGrabFrame") && holdsFrame(buffer, info);
    if (ok) {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << info.dwWidth << " " << info.dwHeight << "\n255\n";
        out.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(rgbBytes(info)));
        std::printf("grabbed %ux%u frame to %s\n", info.dwWidth, info.dwHeight, path);
    }
    auto destroy = zeroed<NVFBC_DESTROY_CAPTURE_SESSION_PARAMS>();
    succeeded(nvfbc.destroyCaptureSession(handle, &destroy), "destroyCaptureSession");
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ppm\n", argv[0]);
        return 2;
    }
    NvFBC& nvfbc = NvFBC::instance();
    unsigned long handle = 0;
    auto create = zeroed<NVFBC_CREATE_HANDLE_PARAMS>();
    if (!succeeded(nvfbc.createHandle(&handle, &create), "createHandle")) {
        return 1;
    }
    const bool ok = grab(nvfbc, handle, argv[1]);
    auto destroy = zeroed<NVFBC_DESTROY_HANDLE_PARAMS>();
    succeeded(nvfbc.destroyHandle(handle, &destroy), "destroyHandle");
    return ok ? 0 : 1;
}
