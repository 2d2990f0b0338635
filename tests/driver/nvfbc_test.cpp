// The capture binding against NVIDIA's libnvidia-fbc without a GPU or X server: our declarations of the API 1.6
// function list against the library's own exports, and the library's refusal to create a session. A branch older
// than API 1.6 refuses the instance, and so the binding's load.
#include "branches.h"
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
// The newest status of API 1.6; 525 to 550 return a newer one when they find no GPU.
constexpr int newestStatus = NVFBC_ERR_MUST_RECREATE;

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
    const NVFBCSTATUS created = create(&list);
    EXPECT_EQ(created, branch().nvfbcInstanceStatus);

    const std::pair<const char*, const void*> slots[] = {
#define TAV_SLOT(name) {#name, reinterpret_cast<const void*>(list.name)}
        TAV_SLOT(nvFBCGetLastErrorStr),       TAV_SLOT(nvFBCCreateHandle),   TAV_SLOT(nvFBCDestroyHandle),
        TAV_SLOT(nvFBCGetStatus),             TAV_SLOT(nvFBCCreateCaptureSession),
        TAV_SLOT(nvFBCDestroyCaptureSession), TAV_SLOT(nvFBCToSysSetUp),     TAV_SLOT(nvFBCToSysGrabFrame),
        TAV_SLOT(nvFBCToCudaSetUp),           TAV_SLOT(nvFBCToCudaGrabFrame), TAV_SLOT(nvFBCBindContext),
        TAV_SLOT(nvFBCReleaseContext),        TAV_SLOT(nvFBCToGLSetUp),      TAV_SLOT(nvFBCToGLGrabFrame),
#undef TAV_SLOT
    };
    // A list the library refused holds nothing to compare.
    for (const auto& [name, slot] : slots) {
        if (created == NVFBC_SUCCESS) {
            EXPECT_EQ(symbolAt(slot), "NvFBC" + std::string(name).substr(5)) << name;
        }
    }
    dlclose(library);
}

// Where the library refuses an instance at API 1.6, the binding's load fails, and the operations find nothing
// loaded to call.
TEST(NvFBCDriver, CreateHandleFailsWithTheLibrarysStatusAndText)
{
    LogCapture capture;
    unsigned long handle = 99;
    auto create = zeroed<NVFBC_CREATE_HANDLE_PARAMS>();

    const auto created = NvFBC::instance().createHandle(&handle, &create);

    const auto* value = valueOf<nvfbc_error_domain>(created);
    ASSERT_NE(value, nullptr) << domainOf(created) << ": " << messageOf(created);
    const bool instantiated = branch().nvfbcInstanceStatus == NVFBC_SUCCESS;
    const int status = instantiated ? branch().createHandleStatus : branch().nvfbcInstanceStatus;
    EXPECT_EQ(static_cast<int>(value->status), status);
    const std::string lastError = text(value->lastError);
    if (instantiated) {
        EXPECT_EQ(messageOf(created), branch().createHandleMessage);
        EXPECT_TRUE(startsWith(text(value->origin), "(src/nvfbc:84)\n")) << text(value->origin);
        EXPECT_EQ(handle, 0u);
    } else {
        EXPECT_EQ(messageOf(created),
                  "NvFBC failed: The API versions of the client and the library are not compatible - Failed to "
                  "create NvFBC instance");
        EXPECT_TRUE(startsWith(text(value->origin), "(src/nvfbc:60)\n")) << text(value->origin);
        EXPECT_EQ(handle, 99u);
    }
    const auto warnings = capture.records(spdlog::level::warn);
    if (status > newestStatus) {
        ASSERT_FALSE(warnings.empty());
        EXPECT_TRUE(startsWith(warnings[0].text, "Switch unexpected value " + std::to_string(status) +
                                                     " in function ("))
            << warnings[0].text;
    } else {
        EXPECT_TRUE(warnings.empty()) << warnings[0].text;
    }

    // The operations on the handle the library left reach the library, which does not know it; without an instance
    // there is no library to reach.
    auto statusParams = zeroed<NVFBC_GET_STATUS_PARAMS>();
    auto bind = zeroed<NVFBC_BIND_CONTEXT_PARAMS>();
    auto session = zeroed<NVFBC_CREATE_CAPTURE_SESSION_PARAMS>();
    auto destroy = zeroed<NVFBC_DESTROY_HANDLE_PARAMS>();
    std::vector<std::pair<const char*, tav::nvidia::CaptureResult>> calls;
    calls.emplace_back("getStatus", NvFBC::instance().getStatus(handle, &statusParams));
    calls.emplace_back("bindContext", NvFBC::instance().bindContext(handle, &bind));
    calls.emplace_back("createCaptureSession", NvFBC::instance().createCaptureSession(handle, &session));
    calls.emplace_back("destroyHandle", NvFBC::instance().destroyHandle(handle, &destroy));
    for (const auto& [name, result] : calls) {
        ASSERT_FALSE(result) << name;
        if (instantiated) {
            EXPECT_EQ(result.error().value().status, NVFBC_ERR_INVALID_HANDLE) << name;
            EXPECT_EQ(text(result.error().message()), "NvFBC failed: Invalid handle - " + lastError) << name;
        } else {
            EXPECT_EQ(result.error().value().status, NVFBC_ERR_BAD_REQUEST) << name;
            EXPECT_EQ(text(result.error().message()),
                      "NvFBC failed: API call not expected - libnvidia-fbc.so.1 is not loaded: create a handle first")
                << name;
        }
    }
}

}  // namespace
}  // namespace tav::test::driver
