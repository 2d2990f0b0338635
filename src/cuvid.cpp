#include <tav/nvidia/cuvid>

#include "codecheaderloader.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/nvcodecheadererrordomain>

#include <boost/stacktrace.hpp>

#include <new>

namespace tav::nvidia {

namespace {

// Errors name this file by this text, whatever the file is called on disk.
constexpr char sourceFile[] = "src/cuvid";

// What was missing has gone to the log through the loader's failure hook; the error names the component.
Result loadFailure() noexcept
{
    constexpr int loadLine = 26;
    return base::system_error2_detail::failure<detail::nvcodecheader_error_domain>(
        "cuvid", sourceFile, loadLine, boost::stacktrace::stacktrace());
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
    static_cast<void>(functions_.unload([](CuvidFunctions* functions) noexcept {
        cuvid_free_functions(&functions);
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }));
}

Result CuVid::loadLib()
{
    return functions_.ensure([](CuvidFunctions*& functions) -> Result {
        // The loader publishes its table before filling it, so it fills one of its own here, which is published
        // only once complete.
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
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    });
}

Result CuVid::loadForOperation() noexcept
{
    try {
        return loadLib();
    } catch (const std::bad_alloc&) {
        return loadFailure();
    }
}

template <auto Entry, int Line, class... Args>
Result CuVid::call(Args... args) noexcept
{
    // Tested here first, so that a loaded binding goes straight to the call.
    CuvidFunctions* functions = functions_.loaded();
    if (functions == nullptr) {
        if (Result loaded = loadForOperation(); !loaded) {
            return loaded;
        }
        functions = functions_.loaded();
    }
    const CUresult status = (functions->*Entry)(args...);
    if (status == CUDA_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // Only the status conversion is borrowed from the CUDA binding; the CUDA driver is not loaded for it.
    const Cuda& cuda = Cuda::instance();
    return cuda.wrapResult(status, sourceFile, Line);
}

// X(operation, entry, line, parameters, arguments): each operation, the table entry it calls, the line its errors
// report, and its parameters as the header declares them.
#define TAV_NVIDIA_CUVID_OPERATIONS(X)                                                                            \
    X(createDecoder, cuvidCreateDecoder, 38, (void** decoder, _CUVIDDECODECREATEINFO* createInfo),                \
      (decoder, createInfo))                                                                                      \
    X(destroyDecoder, cuvidDestroyDecoder, 47, (void* decoder), (decoder))                                        \
    X(decodePicture, cuvidDecodePicture, 56, (void* decoder, _CUVIDPICPARAMS* picParams), (decoder, picParams))   \
    X(mapVideoFrame, cuvidMapVideoFrame, 65, (void* decoder, int picIndex, unsigned long long* devicePointer,     \
      unsigned int* pitch, _CUVIDPROCPARAMS* procParams), (decoder, picIndex, devicePointer, pitch, procParams))  \
    X(unmapVideoFrame, cuvidUnmapVideoFrame, 74, (void* decoder, unsigned long long devicePointer),               \
      (decoder, devicePointer))                                                                                   \
    X(ctxLockCreate, cuvidCtxLockCreate, 83, (_CUcontextlock_st** lock, CUctx_st* context), (lock, context))      \
    X(ctxLockDestroy, cuvidCtxLockDestroy, 92, (_CUcontextlock_st* lock), (lock))                                 \
    X(ctxLock, cuvidCtxLock, 101, (_CUcontextlock_st* lock, unsigned int flags), (lock, flags))                   \
    X(ctxUnlock, cuvidCtxUnlock, 110, (_CUcontextlock_st* lock, unsigned int flags), (lock, flags))               \
    X(createVideoParser, cuvidCreateVideoParser, 119, (void** parser, _CUVIDPARSERPARAMS* parserParams),          \
      (parser, parserParams))                                                                                     \
    X(parseVideoData, cuvidParseVideoData, 128, (void* parser, _CUVIDSOURCEDATAPACKET* packet), (parser, packet)) \
    X(destroyVideoParser, cuvidDestroyVideoParser, 137, (void* parser), (parser))

#define TAV_NVIDIA_CUVID_DEFINE(operation, entry, line, parameters, arguments) \
    Result CuVid::operation parameters noexcept { return call<&CuvidFunctions::entry, line> arguments; }
TAV_NVIDIA_CUVID_OPERATIONS(TAV_NVIDIA_CUVID_DEFINE)
#undef TAV_NVIDIA_CUVID_DEFINE
#undef TAV_NVIDIA_CUVID_OPERATIONS

}  // namespace tav::nvidia
