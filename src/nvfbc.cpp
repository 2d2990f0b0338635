#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvfbc>

#include <dlfcn.h>

#include <type_traits>
#include <utility>

namespace tav::nvidia {

namespace {

using base::system_error2_detail::failure;
using base::system_error2_detail::typedFailure;
using detail::dl_error_domain;
using detail::nvfbc_error_domain;

constexpr const char sourceFile[] = "src/nvfbc";
constexpr const char libraryName[] = "libnvidia-fbc.so.1";
constexpr const char createInstanceName[] = "NvFBCCreateInstance";
constexpr int openLine = 36;

// NVFBC_VERSION: minor version in the low byte, major in the next.
constexpr std::uint32_t apiVersion = 0x106;

// Stands in for the library's last-error text when an operation comes before the library was loaded.
constexpr const char notLoadedText[] = "libnvidia-fbc.so.1 is not loaded: create a handle first";

using CreateInstance = NVFBCSTATUS (*)(NVFBC_API_FUNCTION_LIST*);

// A version word holds the structure's size in its low 16 bits and, in the top byte, what is left of the API
// version after the shift: its minor number. A structure that does not match would be misread by the library.
template <class Params>
constexpr bool describes(std::uint32_t version)
{
    return (version & 0xffffu) == sizeof(Params) && version >> 24 == (apiVersion & 0xffu);
}

// X(operation, entry, line, version, structure): each operation, the list entry it calls, the line its errors
// report, the version word it writes, and the structure of its parameters.
#define TAV_NVIDIA_NVFBC_OPERATIONS(X)                                                                           \
    X(destroyHandle, nvFBCDestroyHandle, 94, 0x06010004, _NVFBC_DESTROY_HANDLE_PARAMS)                           \
    X(bindContext, nvFBCBindContext, 101, 0x06010004, _NVFBC_BIND_CONTEXT_PARAMS)                                \
    X(releaseContext, nvFBCReleaseContext, 108, 0x06010004, _NVFBC_RELEASE_CONTEXT_PARAMS)                       \
    X(getStatus, nvFBCGetStatus, 115, 0x06010308, _NVFBC_GET_STATUS_PARAMS)                                      \
    X(createCaptureSession, nvFBCCreateCaptureSession, 122, 0x0605003c, _NVFBC_CREATE_CAPTURE_SESSION_PARAMS)    \
    X(destroyCaptureSession, nvFBCDestroyCaptureSession, 129, 0x06010004, _NVFBC_DESTROY_CAPTURE_SESSION_PARAMS) \
    X(toSysSetUp, nvFBCToSysSetUp, 136, 0x06030030, _NVFBC_TOSYS_SETUP_PARAMS)                                   \
    X(toSysGrabFrame, nvFBCToSysGrabFrame, 143, 0x06020018, _NVFBC_TOSYS_GRAB_FRAME_PARAMS)                      \
    X(toCudaSetUp, nvFBCToCudaSetUp, 150, 0x06010008, _NVFBC_TOCUDA_SETUP_PARAMS)                                \
    X(toCudaGrabFrame, nvFBCToCudaGrabFrame, 157, 0x06020020, _NVFBC_TOCUDA_GRAB_FRAME_PARAMS)                   \
    X(toGLSetUp, nvFBCToGLSetUp, 164, 0x06020038, _NVFBC_TOGL_SETUP_PARAMS)                                      \
    X(toGLGrabFrame, nvFBCToGLGrabFrame, 171, 0x06020020, _NVFBC_TOGL_GRAB_FRAME_PARAMS)

// What stands in the last-error field when instance creation reported success but left an entry that the binding
// calls empty; null when every such entry is filled.
const char* missingEntryText(const NVFBC_API_FUNCTION_LIST& list) noexcept
{
#define TAV_NVIDIA_NVFBC_REQUIRE(entry)                     \
    if (list.entry == nullptr) {                            \
        return "NvFBCCreateInstance left " #entry " empty"; \
    }
#define TAV_NVIDIA_NVFBC_REQUIRE_OPERATION(operation, entry, line, version, structure) TAV_NVIDIA_NVFBC_REQUIRE(entry)
    TAV_NVIDIA_NVFBC_REQUIRE(nvFBCGetLastErrorStr)
    TAV_NVIDIA_NVFBC_REQUIRE(nvFBCCreateHandle)
    TAV_NVIDIA_NVFBC_OPERATIONS(TAV_NVIDIA_NVFBC_REQUIRE_OPERATION)
#undef TAV_NVIDIA_NVFBC_REQUIRE_OPERATION
#undef TAV_NVIDIA_NVFBC_REQUIRE
    return nullptr;
}

}  // namespace

// Nothing to run at exit: the library stays open until the process ends.
static_assert(std::is_trivially_destructible_v<NvFBC>);

NvFBC& NvFBC::instance() noexcept
{
    static NvFBC binding;
    return binding;
}

Result NvFBC::loadLib() noexcept
{
    return library_.ensure([this](void*& opened) noexcept -> Result {
        opened = dlopen(libraryName, RTLD_NOW);
        if (opened == nullptr) {
            return failure<dl_error_domain>(libraryName, "dlopen", nullptr, dlerror(), sourceFile, openLine,
                                            boost::stacktrace::stacktrace());
        }
        // Every error from here on closes the library again; the error is complete before it goes.
        const auto abandon = [opened](Result error) noexcept {
            dlclose(opened);
            return error;
        };

        constexpr int resolveLine = 50;
        const auto createInstance = reinterpret_cast<CreateInstance>(dlsym(opened, createInstanceName));
        if (createInstance == nullptr) {
            return abandon(failure<dl_error_domain>(libraryName, "dlsym", createInstanceName, dlerror(), sourceFile,
                                                    resolveLine, boost::stacktrace::stacktrace()));
        }

        constexpr int createInstanceLine = 60;
        functionList_.dwVersion = apiVersion;
        const NVFBCSTATUS status = createInstance(&functionList_);
        if (status != NVFBC_SUCCESS) {
            // There is no session yet whose last-error text could be asked for.
            return abandon(failure<nvfbc_error_domain>(status, "Failed to create NvFBC instance", sourceFile,
                                                       createInstanceLine, boost::stacktrace::stacktrace()));
        }
        // A list that lacks what an operation calls is refused like a failed creation, rather than called through
        // later: the library does not support what the binding needs.
        if (const char* missing = missingEntryText(functionList_); missing != nullptr) {
            return abandon(failure<nvfbc_error_domain>(NVFBC_ERR_UNSUPPORTED, missing, sourceFile,
                                                       createInstanceLine, boost::stacktrace::stacktrace()));
        }
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }, []() noexcept {
        return failure<dl_error_domain>(libraryName, "dlopen", nullptr, detail::loadUnderWayText, sourceFile,
                                        openLine, boost::stacktrace::stacktrace());
    });
}

Result NvFBC::createHandle(unsigned long* handle, _NVFBC_CREATE_HANDLE_PARAMS* params) noexcept
{
    if (Result loaded = loadLib(); !loaded) {
        return loaded;
    }

    constexpr std::uint32_t version = 0x06020028;
    static_assert(describes<_NVFBC_CREATE_HANDLE_PARAMS>(version));
    constexpr int line = 84;
    *handle = 0;
    params->dwVersion = version;
    const NVFBCSTATUS status = functionList_.nvFBCCreateHandle(handle, params);
    // The last-error text belongs to whatever handle the library left, 0 when it stored none.
    CaptureResult wrapped = wrapStatus(*handle, status, sourceFile, line);
    if (wrapped) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // One result type carries both the loader's and the library's errors.
    return make_status_code(std::move(wrapped).error());
}

CaptureResult NvFBC::wrapStatus(unsigned long handle, NVFBCSTATUS status, const char* file,
                                int line) const noexcept
{
    if (status == NVFBC_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // Read at once: the library's next call on this handle may replace the text.
    const char* lastError =
        library_.loaded() != nullptr ? functionList_.nvFBCGetLastErrorStr(handle) : notLoadedText;
    return typedFailure<nvfbc_error_domain>(status, lastError, file, line, boost::stacktrace::stacktrace());
}

template <auto Entry, int Line, std::uint32_t Version, class Params>
CaptureResult NvFBC::call(unsigned long handle, Params* params) const noexcept
{
    static_assert(describes<Params>(Version));
    params->dwVersion = Version;
    // Only createHandle loads the library; until it has, the function list holds nothing that may be called
    // (a failed instance creation can leave entries into a library that is closed again).
    if (library_.loaded() == nullptr) {
        return wrapStatus(handle, NVFBC_ERR_BAD_REQUEST, sourceFile, Line);
    }
    const NVFBCSTATUS status = (functionList_.*Entry)(handle, params);
    if (status == NVFBC_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return wrapStatus(handle, status, sourceFile, Line);
}

#define TAV_NVIDIA_NVFBC_DEFINE(operation, entry, line, version, structure)          \
    CaptureResult NvFBC::operation(unsigned long handle, structure* params) noexcept \
    {                                                                                \
        return call<&NVFBC_API_FUNCTION_LIST::entry, line, version>(handle, params); \
    }
TAV_NVIDIA_NVFBC_OPERATIONS(TAV_NVIDIA_NVFBC_DEFINE)
#undef TAV_NVIDIA_NVFBC_DEFINE
#undef TAV_NVIDIA_NVFBC_OPERATIONS

}  // namespace tav::nvidia
