#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvfbc>

#include <dlfcn.h>

#include <cstddef>
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

// Each operation's version word describes its structure, which starts with that word: the inline operations write
// it without the structure's definition.
#define TAV_NVIDIA_NVFBC_CHECK(operation, entry, line, version, structure)                             \
    static_assert(describes<structure>(version) && std::is_standard_layout_v<structure> &&              \
                      offsetof(structure, dwVersion) == 0 && sizeof(structure::dwVersion) == 4,         \
                  #operation ": version word");
TAV_NVIDIA_NVFBC_OPERATIONS(TAV_NVIDIA_NVFBC_CHECK)
#undef TAV_NVIDIA_NVFBC_CHECK

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
        // Published before the library is, so that a binding seen loaded has its entries.
#define TAV_NVIDIA_NVFBC_PUBLISH(operation, entry, line, version, structure) \
    entries_.entry.store(functionList_.entry, std::memory_order_release);
        TAV_NVIDIA_NVFBC_OPERATIONS(TAV_NVIDIA_NVFBC_PUBLISH)
#undef TAV_NVIDIA_NVFBC_PUBLISH
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

CaptureResult NvFBC::wrapStatus(unsigned long handle, NVFBCSTATUS status, int line) const noexcept
{
    return wrapStatus(handle, status, sourceFile, line);
}

#ifndef TAV_NVIDIA_NVFBC_INLINE_OPERATIONS
#define TAV_NVIDIA_NVFBC_DEFINE(operation, entry, line, version, structure)          \
    CaptureResult NvFBC::operation(unsigned long handle, structure* params) noexcept \
    {                                                                                \
        return call<&EntryPoints::entry, line, version>(handle, params);             \
    }
TAV_NVIDIA_NVFBC_OPERATIONS(TAV_NVIDIA_NVFBC_DEFINE)
#undef TAV_NVIDIA_NVFBC_DEFINE
#endif

}  // namespace tav::nvidia
