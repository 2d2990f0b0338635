#include <tav/nvidia/cuda>
#include <tav/nvidia/dlerrordomain>

#include <dlfcn.h>

namespace tav::nvidia {

namespace {

using base::system_error2_detail::failure;
constexpr const auto& sourceFile = detail::cudaSourceFile;
using detail::cuda_error_domain;
using detail::dl_error_domain;

constexpr int openLine = 61;
// Distribution and container driver packages often install only the versioned name.
constexpr const char unversionedName[] = "libcuda.so";
constexpr const char versionedName[] = "libcuda.so.1";

Result success() noexcept { return BOOST_OUTCOME_V2_NAMESPACE::success(); }

// Opens the driver under either name. When both fail, the first attempt is reported, so that a machine without
// the driver sees the loader's complaint about "libcuda.so".
Result openDriver(void*& handle, const char*& name) noexcept
{
    handle = dlopen(unversionedName, RTLD_NOW);
    if (handle != nullptr) {
        name = unversionedName;
        return success();
    }
    // The next dlopen overwrites the loader's text.
    const base::system_error2_detail::string_ref firstError = base::system_error2_detail::duplicateMessage(dlerror());
    handle = dlopen(versionedName, RTLD_NOW);
    if (handle != nullptr) {
        name = versionedName;
        return success();
    }
    return failure<dl_error_domain>(unversionedName, "dlopen", nullptr, firstError.c_str(), sourceFile, openLine,
                                    boost::stacktrace::stacktrace());
}

// The first entry point the library lacks, with what its absence reports.
struct MissingSymbol {
    const char* symbol = nullptr;
    int line = 0;
    const char* loaderText = nullptr;
};

template <class Entry>
bool resolve(void* handle, Entry& entry, const char* symbol, int missingLine, MissingSymbol& missing) noexcept
{
    entry = reinterpret_cast<Entry>(dlsym(handle, symbol));
    if (entry != nullptr) {
        return true;
    }
    missing = {symbol, missingLine, dlerror()};
    return false;
}

// The table as a load resolves it, before it is published.
struct ResolvedEntryPoints {
#define TAV_NVIDIA_CUDA_RESOLVED_FIELD(symbol, missingLine, parameters) CUresult(*symbol) parameters = nullptr;
    TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_NVIDIA_CUDA_RESOLVED_FIELD)
#undef TAV_NVIDIA_CUDA_RESOLVED_FIELD
};

// The driver's text for status through a cuGetErrorString entry, or null when the entry is null.
const char* driverText(CUresult (*getErrorString)(CUresult, const char**), CUresult status) noexcept
{
    if (getErrorString == nullptr) {
        return nullptr;
    }
    const char* text = nullptr;
    getErrorString(status, &text);
    return text;
}

// What an operation reports when setFuncsToNullptr has emptied the table of a loaded binding: the driver cannot
// be reached, and unloading lets the next operation resolve it afresh.
constexpr const char clearedTableText[] =
    "the binding's entry points were cleared; call unloadLib so that the next operation loads the driver again";

}  // namespace

Result Cuda::clearedTableError(int line) const noexcept
{
    // CUDA_ERROR_NOT_INITIALIZED, which the codec headers' CUresult does not name.
    constexpr auto notInitialized = static_cast<CUresult>(3);
    return failure<cuda_error_domain>(notInitialized, clearedTableText, sourceFile, line,
                                      boost::stacktrace::stacktrace());
}

Cuda& Cuda::instance() noexcept
{
    static Cuda cuda;
    return cuda;
}

Cuda::~Cuda()
{
    library_.release([this](void* handle) noexcept { return close(handle); });
}

Result Cuda::loadLib(unsigned int flags) noexcept
{
    return library_.ensure([this, flags](void*& handle) noexcept { return load(flags, handle); },
                           []() noexcept {
                               return failure<dl_error_domain>(unversionedName, "dlopen", nullptr,
                                                               detail::loadUnderWayText, sourceFile, openLine,
                                                               boost::stacktrace::stacktrace());
                           });
}

Result Cuda::load(unsigned int flags, void*& handle) noexcept
{
    const char* name = nullptr;
    if (Result opened = openDriver(handle, name); opened.has_error()) {
        return opened;
    }
    // Resolved and initialised here, and published only once complete: getErrorString, which other bindings
    // reach on any thread without loading, never sees a table that is being filled or belongs to a closed library.
    ResolvedEntryPoints resolving;
    // The error is complete (trace and record included) before the library goes away; the close's own outcome is
    // of no interest on this path.
    const auto abandon = [handle](Result error) noexcept {
        dlclose(handle);
        return error;
    };

    constexpr int operationEntryMissingLine = 76;
    constexpr int initEntryMissingLine = 80;
    constexpr int supportEntryMissingLine = 84;
    MissingSymbol missing;
#define TAV_NVIDIA_CUDA_RESOLVE(symbol, missingLine, parameters) \
    resolve(handle, resolving.symbol, #symbol, missingLine, missing)&&
    const bool resolved = TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_NVIDIA_CUDA_RESOLVE) true;
#undef TAV_NVIDIA_CUDA_RESOLVE
    if (!resolved) {
        return abandon(failure<dl_error_domain>(name, "dlsym", missing.symbol, missing.loaderText, sourceFile,
                                                missing.line, boost::stacktrace::stacktrace()));
    }

    constexpr int initLine = 87;
    const CUresult initStatus = resolving.cuInit(flags);
    if (initStatus != CUDA_SUCCESS) {
        // The driver's text is copied into the error while the library is still open.
        const char* const text = driverText(resolving.cuGetErrorString, initStatus);
        return abandon(failure<cuda_error_domain>(initStatus, text, sourceFile, initLine,
                                                  boost::stacktrace::stacktrace()));
    }
#define TAV_NVIDIA_CUDA_PUBLISH(symbol, missingLine, parameters) \
    entries_.symbol.store(resolving.symbol, std::memory_order_release);
    TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_NVIDIA_CUDA_PUBLISH)
#undef TAV_NVIDIA_CUDA_PUBLISH
    libraryName_ = name;
    return success();
}

Result Cuda::unloadLib() noexcept
{
    return library_.unload([this](void* handle) noexcept { return close(handle); });
}

Result Cuda::close(void* handle) noexcept
{
    // Forgotten before closing, whatever dlclose says; the table is cleared because a set entry means loaded to
    // the operations, and getErrorString, which other bindings reach without loading, must never call into a
    // closed library.
    setFuncsToNullptr();
    constexpr int closeLine = 100;
    if (dlclose(handle) == 0) {
        return success();
    }
    return failure<dl_error_domain>(libraryName_, "dlclose", nullptr, dlerror(), sourceFile, closeLine,
                                    boost::stacktrace::stacktrace());
}

void Cuda::setFuncsToNullptr() noexcept
{
#define TAV_NVIDIA_CUDA_CLEAR(symbol, missingLine, parameters) \
    entries_.symbol.store(nullptr, std::memory_order_relaxed);
    TAV_NVIDIA_CUDA_ENTRY_POINTS(TAV_NVIDIA_CUDA_CLEAR)
#undef TAV_NVIDIA_CUDA_CLEAR
}

const char* Cuda::getErrorString(CUresult status) const noexcept
{
    // Only a published entry is ever set: a load under way on another thread fills a table of its own, and one
    // that fails closes its library without publishing anything.
    return driverText(entries_.cuGetErrorString.load(std::memory_order_acquire), status);
}

Result Cuda::wrapResult(CUresult status, const char* file, int line) const noexcept
{
    if (status == CUDA_SUCCESS) {
        return success();
    }
    const char* const text = getErrorString(status);
    return failure<cuda_error_domain>(status, text, file, line, boost::stacktrace::stacktrace());
}

constexpr int driverGetVersionLine = 123;
Result Cuda::driverGetVersion(int* version) noexcept
{
    auto function = entries_.cuDriverGetVersion.load(std::memory_order_acquire);
    if (function == nullptr) {
        if (Result loaded = loadLib(0); loaded.has_error()) {
            return loaded;
        }
        function = entries_.cuDriverGetVersion.load(std::memory_order_acquire);
        // Loaded without the entry: the oldest driver API version stands in, as if the driver had answered.
        if (function == nullptr) {
            constexpr int fallbackVersion = 1000;
            *version = fallbackVersion;
            return success();
        }
    }
    const CUresult status = function(version);
    if (status == CUDA_SUCCESS) {
        return success();
    }
    return wrapResult(status, sourceFile, driverGetVersionLine);
}

}  // namespace tav::nvidia
