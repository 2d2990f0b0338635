// The binding's capture operations that take a session handle, with what each must do, for table-driven tests.
#pragma once

#include <tav/nvidia/nvfbc>

#include <cstdint>
#include <string>
#include <utility>

namespace tav::test::nvfbc {

// A version word that no operation writes: it shows whether the binding overwrote the caller's.
inline constexpr std::uint32_t callersVersion = 0xdeadbeef;

struct Outcome {
    tav::nvidia::CaptureResult result;
    // The parameter structure's dwVersion after the call.
    std::uint32_t version;
};

struct Operation {
    const char* name;
    // The function-list entry it must call.
    const char* entry;
    // The dwVersion it must write.
    std::uint32_t version;
    // The line in src/nvfbc at which its errors are located.
    int line;
    // Calls the operation for a handle with a zeroed structure carrying callersVersion.
    Outcome (*invoke)(unsigned long handle);
};

template <class Params, tav::nvidia::CaptureResult (tav::nvidia::NvFBC::*Member)(unsigned long, Params*)>
Outcome invoke(unsigned long handle)
{
    Params params{};
    params.dwVersion = callersVersion;
    tav::nvidia::CaptureResult result = (tav::nvidia::NvFBC::instance().*Member)(handle, &params);
    return Outcome{std::move(result), params.dwVersion};
}

using tav::nvidia::NvFBC;

inline const Operation operations[] = {
    {"destroyHandle", "nvFBCDestroyHandle", 0x06010004, 94, invoke<_NVFBC_DESTROY_HANDLE_PARAMS, &NvFBC::destroyHandle>},
    {"bindContext", "nvFBCBindContext", 0x06010004, 101, invoke<_NVFBC_BIND_CONTEXT_PARAMS, &NvFBC::bindContext>},
    {"releaseContext", "nvFBCReleaseContext", 0x06010004, 108, invoke<_NVFBC_RELEASE_CONTEXT_PARAMS, &NvFBC::releaseContext>},
    {"getStatus", "nvFBCGetStatus", 0x06010308, 115, invoke<_NVFBC_GET_STATUS_PARAMS, &NvFBC::getStatus>},
    {"createCaptureSession", "nvFBCCreateCaptureSession", 0x0605003c, 122, invoke<_NVFBC_CREATE_CAPTURE_SESSION_PARAMS, &NvFBC::createCaptureSession>},
    {"destroyCaptureSession", "nvFBCDestroyCaptureSession", 0x06010004, 129, invoke<_NVFBC_DESTROY_CAPTURE_SESSION_PARAMS, &NvFBC::destroyCaptureSession>},
    {"toSysSetUp", "nvFBCToSysSetUp", 0x06030030, 136, invoke<_NVFBC_TOSYS_SETUP_PARAMS, &NvFBC::toSysSetUp>},
    {"toSysGrabFrame", "nvFBCToSysGrabFrame", 0x06020018, 143, invoke<_NVFBC_TOSYS_GRAB_FRAME_PARAMS, &NvFBC::toSysGrabFrame>},
    {"toCudaSetUp", "nvFBCToCudaSetUp", 0x06010008, 150, invoke<_NVFBC_TOCUDA_SETUP_PARAMS, &NvFBC::toCudaSetUp>},
    {"toCudaGrabFrame", "nvFBCToCudaGrabFrame", 0x06020020, 157, invoke<_NVFBC_TOCUDA_GRAB_FRAME_PARAMS, &NvFBC::toCudaGrabFrame>},
    {"toGLSetUp", "nvFBCToGLSetUp", 0x06020038, 164, invoke<_NVFBC_TOGL_SETUP_PARAMS, &NvFBC::toGLSetUp>},
    {"toGLGrabFrame", "nvFBCToGLGrabFrame", 0x06020020, 171, invoke<_NVFBC_TOGL_GRAB_FRAME_PARAMS, &NvFBC::toGLGrabFrame>},
};

// "(src/nvfbc:<line>)\n", with which the origin of every error of the binding at that line begins.
inline std::string location(int line) { return "(src/nvfbc:" + std::to_string(line) + ")\n"; }

inline std::string text(const system_error2::status_code_domain::string_ref& ref)
{
    return std::string(ref.data(), ref.size());
}

}  // namespace tav::test::nvfbc
