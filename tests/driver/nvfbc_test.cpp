// The capture binding against NVIDIA's libnvidia-fbc without a GPU or X server: our declarations of the API 1.6
// function list against the library's own exports, and the library's refusal to create a session.
#include "support.h"

#include <tav/nvidia/nvfbc>

#include <dlfcn.h>

#include <cstring>
#include <utility>

namespace tav::test::driver {
namespace {

using tav::nvidia::NvFBC;
using tav::nvidia::detail::nvfbc_error_domain;

// The function list's version word is the plain API version, 1.6.
constexpr std::uint32_t apiVersion = 0x106;
// A status newer than API 1.6, which the 535 library returns when it finds no GPU.
constexpr int newerStatus = 17;

template <class T>
T zeroed()
{
    T value;
    std::memset(&value, 0, sizeof(value));
    return value;
}

// The exported symbol that an address lies in, or what dladdr says instead.
std::string symbolAt(const void* address)
{
    Dl_info info{};
    if (address == nullptr) {
        return "null";
    }
    if (dladdr(address, &info) == 0 || info.dli_sname == nullptr) {
        return "no symbol";
    }
    return info.dli_sname;
}

// A slot named nvFBCX must hold the library's export NvFBCX: that checks the place and name of every entry in our
// hand-written list against NVIDIA's library.
TEST(NvFBCDriver, EveryCallableSlotHoldsTheExportOfItsName)
{
    void* library = dlopen("libnvidia-fbc.so.1", RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    using CreateInstance = NVFBCSTATUS (*)(NVFBC_API_FUNCTION_LIST*);
    const auto create = reinterpret_cast<CreateInstance>(dlsym(library, "NvFBCCreateInstance"));
    ASSERT_NE(create, nullptr) << dlerror();
    auto list = zeroed<NVFBC_API_FUNCTION_LIST>();
    list.dwVersion = apiVersion;
    ASSERT_EQ(create(&list), NVFBC_SUCCESS);

    const std::pair<const char*, const void*> slots[] = {
#define TAV_SLOT(name) {#name, reinterpret_cast<const void*>(list.name)}
        TAV_SLOT(nvFBCGetLastErrorStr),       TAV_SLOT(nvFBCCreateHandle),   TAV_SLOT(nvFBCDestroyHandle),
        TAV_SLOT(nvFBCGetStatus),             TAV_SLOT(nvFBCCreateCaptureSession),
        TAV_SLOT(nvFBCDestroyCaptureSession), TAV_SLOT(nvFBCToSysSetUp),     TAV_SLOT(nvFBCToSysGrabFrame),
        TAV_SLOT(nvFBCToCudaSetUp),           TAV_SLOT(nvFBCToCudaGrabFrame), TAV_SLOT(nvFBCBindContext),
        TAV_SLOT(nvFBCReleaseContext),        TAV_SLOT(nvFBCToGLSetUp),      TAV_SLOT(nvFBCToGLGrabFrame),
#undef TAV_SLOT
    };
    for (const auto& [name, slot] : slots) {
        EXPECT_EQ(symbolAt(slot), "NvFBC" + std::string(name).substr(5)) << name;
    }
    dlclose(library);
}

TEST(NvFBCDriver, CreateHandleFailsWithTheLibrarysStatusAndText)
{
    LogCapture capture;
    unsigned long handle = 99;
    auto create = zeroed<NVFBC_CREATE_HANDLE_PARAMS>();

    const auto created = NvFBC::instance().createHandle(&handle, &create);

    const auto* value = valueOf<nvfbc_error_domain>(created);
    ASSERT_NE(value, nullptr) << domainOf(created) << ": " << messageOf(created);
    EXPECT_EQ(static_cast<int>(value->status), newerStatus);
    const std::string lastError = text(value->lastError);
    EXPECT_FALSE(lastError.empty());
    EXPECT_EQ(messageOf(created), "NvFBC failed: Unknown - " + lastError);
    EXPECT_TRUE(startsWith(text(value->origin), "(src/nvfbc:84)\n")) << text(value->origin);
    EXPECT_EQ(handle, 0u);
    const auto warnings = capture.records(spdlog::level::warn);
    ASSERT_FALSE(warnings.empty());
    EXPECT_TRUE(startsWith(warnings[0].text, "Switch unexpected value 17 in function (")) << warnings[0].text;

    // The operations on the handle the library left reach the library, which does not know it.
    auto status = zeroed<NVFBC_GET_STATUS_PARAMS>();
    auto bind = zeroed<NVFBC_BIND_CONTEXT_PARAMS>();
    auto session = zeroed<NVFBC_CREATE_CAPTURE_SESSION_PARAMS>();
    auto destroy = zeroed<NVFBC_DESTROY_HANDLE_PARAMS>();
    std::vector<std::pair<const char*, tav::nvidia::CaptureResult>> calls;
    calls.emplace_back("getStatus", NvFBC::instance().getStatus(handle, &status));
    calls.emplace_back("bindContext", NvFBC::instance().bindContext(handle, &bind));
    calls.emplace_back("createCaptureSession", NvFBC::instance().createCaptureSession(handle, &session));
    calls.emplace_back("destroyHandle", NvFBC::instance().destroyHandle(handle, &destroy));
    for (const auto& [name, result] : calls) {
        ASSERT_FALSE(result) << name;
        EXPECT_EQ(result.error().value().status, NVFBC_ERR_INVALID_HANDLE) << name;
        EXPECT_EQ(text(result.error().message()), "NvFBC failed: Invalid handle - " + lastError) << name;
    }
}

}  // namespace
}  // namespace tav::test::driver
