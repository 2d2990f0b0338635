#include <tav/nvidia/cuvid>

#include "codecheaderloader.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/nvcodecheadererrordomain>

#include <boost/stacktrace.hpp>

#include <new>

namespace tav::nvidia {

namespace {

// Errors name this file by this text, whatever the file is called on disk.
constexpr char kSourceFile[] = "src/cuvid";

// What was missing has gone to the log through the loader's failure hook; the error names the component.
Result loadFailure() noexcept
{
    constexpr int kLoadLine = 26;
    return base::system_error2_detail::failure<detail::nvcodecheader_error_domain>(
        "cuvid", kSourceFile, kLoadLine, boost::stacktrace::stacktrace());
}

}  // namespace

CuVid& CuVid::instance() noexcept
{
    static CuVid cuvid;
    return cuvid;
}

CuVid::~CuVid()
{
    // Unpublished before it is freed: a host's destructor that runs after this one and calls an operation then
    // loads afresh instead of reading the freed table.
    CuvidFunctions* functions = functions_.exchange(nullptr, std::memory_order_acq_rel);
    cuvid_free_functions(&functions);
}

Result CuVid::loadLib()
{
    if (functions_.load(std::memory_order_acquire) != nullptr) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    const std::lock_guard<std::mutex> lock(loadMutex_);
    // Another thread may have finished the load while this one waited.
    if (functions_.load(std::memory_order_relaxed) != nullptr) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // The loader publishes its table before filling it, so it fills one of its own here, which is published
    // only once complete.
    CuvidFunctions* functions = nullptr;
    int status = 0;
    try {
        status = cuvid_load_functions(&functions, nullptr);
    } catch (...) {
        // An exception out of the failure hook skips the loader's own cleanup and leaves a half-built table
        // behind, possibly with the library open. Releasing it makes the next call load afresh.
        cuvid_free_functions(&functions);
        throw;
    }
    if (status != 0) {
        return loadFailure();
    }
    functions_.store(functions, std::memory_order_release);
    return BOOST_OUTCOME_V2_NAMESPACE::success();
}

Result CuVid::loadForOperation() noexcept
{
    try {
        return loadLib();
    } catch (const std::bad_alloc&) {
        return loadFailure();
    }
}

template <auto Entry, class... Args>
Result CuVid::call(int line, Args... args) noexcept
{
    // Tested here first, so that a loaded binding goes straight to the call.
    CuvidFunctions* functions = functions_.load(std::memory_order_acquire);
    if (functions == nullptr) {
        if (Result loaded = loadForOperation(); !loaded) {
            return loaded;
        }
        functions = functions_.load(std::memory_order_acquire);
    }
    const CUresult status = (functions->*Entry)(args...);
    if (status == CUDA_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // Only the status conversion is borrowed from the CUDA binding; the CUDA driver is not loaded for it.
    const Cuda& cuda = Cuda::instance();
    return cuda.wrapResult(status, kSourceFile, line);
}

// Each operation with the line its errors report.

constexpr int kCreateDecoderLine = 38;
Result CuVid::createDecoder(void** decoder, _CUVIDDECODECREATEINFO* createInfo) noexcept
{
    return call<&CuvidFunctions::cuvidCreateDecoder>(kCreateDecoderLine, decoder, createInfo);
}

constexpr int kDestroyDecoderLine = 47;
Result CuVid::destroyDecoder(void* decoder) noexcept
{
    return call<&CuvidFunctions::cuvidDestroyDecoder>(kDestroyDecoderLine, decoder);
}

constexpr int kDecodePictureLine = 56;
Result CuVid::decodePicture(void* decoder, _CUVIDPICPARAMS* picParams) noexcept
{
    return call<&CuvidFunctions::cuvidDecodePicture>(kDecodePictureLine, decoder, picParams);
}

constexpr int kMapVideoFrameLine = 65;
Result CuVid::mapVideoFrame(void* decoder, int picIndex, unsigned long long* devicePointer, unsigned int* pitch,
                            _CUVIDPROCPARAMS* procParams) noexcept
{
    return call<&CuvidFunctions::cuvidMapVideoFrame>(kMapVideoFrameLine, decoder, picIndex, devicePointer, pitch,
                                                     procParams);
}

constexpr int kUnmapVideoFrameLine = 74;
Result CuVid::unmapVideoFrame(void* decoder, unsigned long long devicePointer) noexcept
{
    return call<&CuvidFunctions::cuvidUnmapVideoFrame>(kUnmapVideoFrameLine, decoder, devicePointer);
}

constexpr int kCtxLockCreateLine = 83;
Result CuVid::ctxLockCreate(_CUcontextlock_st** lock, CUctx_st* context) noexcept
{
    return call<&CuvidFunctions::cuvidCtxLockCreate>(kCtxLockCreateLine, lock, context);
}

constexpr int kCtxLockDestroyLine = 92;
Result CuVid::ctxLockDestroy(_CUcontextlock_st* lock) noexcept
{
    return call<&CuvidFunctions::cuvidCtxLockDestroy>(kCtxLockDestroyLine, lock);
}

constexpr int kCtxLockLine = 101;
Result CuVid::ctxLock(_CUcontextlock_st* lock, unsigned int flags) noexcept
{
    return call<&CuvidFunctions::cuvidCtxLock>(kCtxLockLine, lock, flags);
}

constexpr int kCtxUnlockLine = 110;
Result CuVid::ctxUnlock(_CUcontextlock_st* lock, unsigned int flags) noexcept
{
    return call<&CuvidFunctions::cuvidCtxUnlock>(kCtxUnlockLine, lock, flags);
}

constexpr int kCreateVideoParserLine = 119;
Result CuVid::createVideoParser(void** parser, _CUVIDPARSERPARAMS* parserParams) noexcept
{
    return call<&CuvidFunctions::cuvidCreateVideoParser>(kCreateVideoParserLine, parser, parserParams);
}

constexpr int kParseVideoDataLine = 128;
Result CuVid::parseVideoData(void* parser, _CUVIDSOURCEDATAPACKET* packet) noexcept
{
    return call<&CuvidFunctions::cuvidParseVideoData>(kParseVideoDataLine, parser, packet);
}

constexpr int kDestroyVideoParserLine = 137;
Result CuVid::destroyVideoParser(void* parser) noexcept
{
    return call<&CuvidFunctions::cuvidDestroyVideoParser>(kDestroyVideoParserLine, parser);
}

}  // namespace tav::nvidia
