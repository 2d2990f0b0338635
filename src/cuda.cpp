#include <tav/nvidia/cuda>
#include <tav/nvidia/dlerrordomain>

#include <dlfcn.h>
#include <spdlog/spdlog.h>

namespace tav::nvidia {

namespace {

using base::system_error2_detail::failure;
using detail::cuda_error_domain;
using detail::dl_error_domain;

constexpr const char sourceFile[] = "src/cuda";

// Distribution and container driver packages often install only the versioned name.
constexpr const char unversionedName[] = "libcuda.so";
constexpr const char versionedName[] = "libcuda.so.1";

Result success() noexcept { return BOOST_OUTCOME_V2_NAMESPACE::success(); }

// Opens the driver under either name. When both fail, the first attempt is reported, so that a machine without
// the driver sees the loader's complaint about "libcuda.so".
Result openDriver(void*& handle, const char*& name) noexcept
{
    constexpr int openLine = 61;
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

Result clearedTable(int line) noexcept
{
    // CUDA_ERROR_NOT_INITIALIZED, which the codec headers' CUresult does not name.
    constexpr auto notInitialized = static_cast<CUresult>(3);
    return failure<cuda_error_domain>(notInitialized, clearedTableText, sourceFile, line,
                                      boost::stacktrace::stacktrace());
}

}  // namespace

namespace {

// spdlog's registry, which owns the default logger, comes into being on first use and goes away in the reverse
// order of construction at exit. The binding's destructor may write a record (a failing dlclose makes an error), so
// the registry is made to exist before the binding does, and thus outlives it.
bool registryBuilt() noexcept
{
    try {
        static_cast<void>(spdlog::default_logger_raw());
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

Cuda& Cuda::instance() noexcept
{
    [[maybe_unused]] static const bool registryFirst = registryBuilt();
    static Cuda cuda;
    return cuda;
}

Cuda::~Cuda() { static_cast<void>(unloadLib()); }

Result Cuda::loadLib(unsigned int flags) noexcept
{
    if (handle_.load(std::memory_order_acquire) != nullptr) {
        return success();
    }
    return load(flags);
}

Result Cuda::load(unsigned int flags) noexcept
{
    const std::lock_guard<std::mutex> lock(loadMutex_);
    // Another thread may have finished the load while this one waited.
    if (handle_.load(std::memory_order_relaxed) != nullptr) {
        return success();
    }

    void* handle = nullptr;
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
    handle_.store(handle, std::memory_order_release);
    return success();
}

Result Cuda::unloadLib() noexcept
{
    const std::lock_guard<std::mutex> lock(loadMutex_);
    void* const handle = handle_.load(std::memory_order_relaxed);
    if (handle == nullptr) {
        return success();
    }
    // Forgotten before closing, whatever dlclose says; the table is cleared because a set entry means loaded to
    // the operations, and getErrorString, which other bindings reach without loading, must never call into a
    // closed library.
    handle_.store(nullptr, std::memory_order_release);
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

template <class... Parameters>
Result Cuda::invoke(std::atomic<CUresult (*)(Parameters...)> EntryPoints::*entry, int line,
                    Parameters... arguments) noexcept
{
    // A set entry means loaded, so the loaded path tests nothing else.
    auto function = (entries_.*entry).load(std::memory_order_acquire);
    if (function == nullptr) {
        if (Result loaded = loadLib(0); loaded.has_error()) {
            return loaded;
        }
        function = (entries_.*entry).load(std::memory_order_acquire);
        // Loaded, yet empty: setFuncsToNullptr cleared the table.
        if (function == nullptr) {
            return clearedTable(line);
        }
    }
    // Success is answered here, so that the common case makes no further call.
    const CUresult status = function(arguments...);
    if (status == CUDA_SUCCESS) {
        return success();
    }
    return wrapResult(status, sourceFile, line);
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

constexpr int deviceGetLine = 139;
Result Cuda::deviceGet(CUdevice* device, int ordinal) noexcept
{
    return invoke(&EntryPoints::cuDeviceGet, deviceGetLine, device, ordinal);
}

constexpr int deviceGetNameLine = 148;
Result Cuda::deviceGetName(char* name, int length, CUdevice device) noexcept
{
    return invoke(&EntryPoints::cuDeviceGetName, deviceGetNameLine, name, length, device);
}

constexpr int deviceGetCountLine = 157;
Result Cuda::deviceGetCount(int* count) noexcept
{
    return invoke(&EntryPoints::cuDeviceGetCount, deviceGetCountLine, count);
}

constexpr int deviceTotalMemLine = 166;
Result Cuda::deviceTotalMem(size_t* bytes, CUdevice device) noexcept
{
    return invoke(&EntryPoints::cuDeviceTotalMem_v2, deviceTotalMemLine, bytes, device);
}

constexpr int deviceGetAttributeLine = 175;
Result Cuda::deviceGetAttribute(int* value, CUdevice_attribute attribute, CUdevice device) noexcept
{
    return invoke(&EntryPoints::cuDeviceGetAttribute, deviceGetAttributeLine, value, attribute, device);
}

constexpr int ctxCreateLine = 184;
Result Cuda::ctxCreate(CUcontext* context, unsigned int flags, CUdevice device) noexcept
{
    return invoke(&EntryPoints::cuCtxCreate_v2, ctxCreateLine, context, flags, device);
}

constexpr int ctxDestroyLine = 193;
Result Cuda::ctxDestroy(CUcontext context) noexcept
{
    return invoke(&EntryPoints::cuCtxDestroy_v2, ctxDestroyLine, context);
}

constexpr int ctxPushCurrentLine = 202;
Result Cuda::ctxPushCurrent(CUcontext context) noexcept
{
    return invoke(&EntryPoints::cuCtxPushCurrent_v2, ctxPushCurrentLine, context);
}

constexpr int ctxPopCurrentLine = 211;
Result Cuda::ctxPopCurrent(CUcontext* context) noexcept
{
    return invoke(&EntryPoints::cuCtxPopCurrent_v2, ctxPopCurrentLine, context);
}

constexpr int ctxSetCurrentLine = 220;
Result Cuda::ctxSetCurrent(CUcontext context) noexcept
{
    return invoke(&EntryPoints::cuCtxSetCurrent, ctxSetCurrentLine, context);
}

constexpr int ctxGetCurrentLine = 229;
Result Cuda::ctxGetCurrent(CUcontext* context) noexcept
{
    return invoke(&EntryPoints::cuCtxGetCurrent, ctxGetCurrentLine, context);
}

constexpr int ctxGetDeviceLine = 238;
Result Cuda::ctxGetDevice(CUdevice* device) noexcept
{
    return invoke(&EntryPoints::cuCtxGetDevice, ctxGetDeviceLine, device);
}

constexpr int ctxSynchronizeLine = 247;
Result Cuda::ctxSynchronize() noexcept { return invoke(&EntryPoints::cuCtxSynchronize, ctxSynchronizeLine); }

constexpr int memAllocLine = 256;
Result Cuda::memAlloc(CUdeviceptr* pointer, size_t bytes) noexcept
{
    return invoke(&EntryPoints::cuMemAlloc_v2, memAllocLine, pointer, bytes);
}

constexpr int memFreeLine = 265;
Result Cuda::memFree(CUdeviceptr pointer) noexcept { return invoke(&EntryPoints::cuMemFree_v2, memFreeLine, pointer); }

constexpr int memcpyHtoDLine = 274;
Result Cuda::memcpyHtoD(CUdeviceptr destination, const void* source, size_t bytes) noexcept
{
    return invoke(&EntryPoints::cuMemcpyHtoD_v2, memcpyHtoDLine, destination, source, bytes);
}

constexpr int memcpyDtoHLine = 283;
Result Cuda::memcpyDtoH(void* destination, CUdeviceptr source, size_t bytes) noexcept
{
    return invoke(&EntryPoints::cuMemcpyDtoH_v2, memcpyDtoHLine, destination, source, bytes);
}

constexpr int memcpyDtoHAsyncLine = 292;
Result Cuda::memcpyDtoHAsync(void* destination, CUdeviceptr source, size_t bytes, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemcpyDtoHAsync_v2, memcpyDtoHAsyncLine, destination, source, bytes, stream);
}

constexpr int memcpyDtoDAsyncLine = 301;
Result Cuda::memcpyDtoDAsync(CUdeviceptr destination, CUdeviceptr source, size_t bytes, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemcpyDtoDAsync_v2, memcpyDtoDAsyncLine, destination, source, bytes, stream);
}

constexpr int memcpy2DLine = 310;
Result Cuda::memcpy2D(const CUDA_MEMCPY2D* copy) noexcept
{
    return invoke(&EntryPoints::cuMemcpy2D_v2, memcpy2DLine, copy);
}

constexpr int memcpy2DAsyncLine = 319;
Result Cuda::memcpy2DAsync(const CUDA_MEMCPY2D* copy, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemcpy2DAsync_v2, memcpy2DAsyncLine, copy, stream);
}

constexpr int memcpy3DAsyncLine = 328;
Result Cuda::memcpy3DAsync(const CUDA_MEMCPY3D* copy, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemcpy3DAsync_v2, memcpy3DAsyncLine, copy, stream);
}

constexpr int memcpy3DPeerAsyncLine = 337;
Result Cuda::memcpy3DPeerAsync(const CUDA_MEMCPY3D_PEER* copy, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemcpy3DPeerAsync, memcpy3DPeerAsyncLine, copy, stream);
}

constexpr int memsetD8AsyncLine = 346;
Result Cuda::memsetD8Async(CUdeviceptr destination, unsigned char value, size_t count, CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemsetD8Async, memsetD8AsyncLine, destination, value, count, stream);
}

constexpr int memsetD2D8AsyncLine = 355;
Result Cuda::memsetD2D8Async(CUdeviceptr destination, size_t pitch, unsigned char value, size_t width, size_t height,
                             CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuMemsetD2D8Async, memsetD2D8AsyncLine, destination, pitch, value, width, height,
                  stream);
}

constexpr int streamCreateLine = 364;
Result Cuda::streamCreate(CUstream* stream, unsigned int flags) noexcept
{
    return invoke(&EntryPoints::cuStreamCreate, streamCreateLine, stream, flags);
}

constexpr int streamSynchronizeLine = 373;
Result Cuda::streamSynchronize(CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuStreamSynchronize, streamSynchronizeLine, stream);
}

constexpr int streamDestroyLine = 382;
Result Cuda::streamDestroy(CUstream stream) noexcept
{
    return invoke(&EntryPoints::cuStreamDestroy_v2, streamDestroyLine, stream);
}

}  // namespace tav::nvidia
