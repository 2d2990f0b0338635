// A stand-in for NVIDIA's decoder library: every entry point records its call with the control library and returns
// the status the test chose. A variant built with the definition <entry point>=omitted_<entry point> exports that
// entry point under another name, so that the loader cannot find it.
#include "control.h"

#include <ffnvcodec/dynlink_cuda.h>
#include <ffnvcodec/dynlink_nvcuvid.h>

#include <cstdint>
#include <type_traits>

namespace {

template <class T>
std::uint64_t word(T value)
{
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else {
        return static_cast<std::uint64_t>(value);
    }
}

template <class Status, class... Args>
Status answer(const char* entryPoint, Args... args)
{
    return static_cast<Status>(tav::test::cuvid::recordCall(entryPoint, {word(args)...}));
}

__attribute__((constructor)) void loaded() { tav::test::cuvid::libraryLoaded(); }

__attribute__((destructor)) void unloaded() { tav::test::cuvid::libraryUnloaded(); }

}  // namespace

// X(return type, entry point, parameters, arguments): the decoder library's entry points in the loader's order.
#define TAV_CUVID_ENTRY_POINTS(X)                                                                                  \
    X(CUresult, cuvidGetDecoderCaps, (CUVIDDECODECAPS * caps), (caps))                                             \
    X(CUresult, cuvidCreateDecoder, (CUvideodecoder * decoder, CUVIDDECODECREATEINFO * info), (decoder, info))     \
    X(CUresult, cuvidDestroyDecoder, (CUvideodecoder decoder), (decoder))                                          \
    X(CUresult, cuvidDecodePicture, (CUvideodecoder decoder, CUVIDPICPARAMS * params), (decoder, params))          \
    X(CUresult, cuvidGetDecodeStatus, (CUvideodecoder decoder, int index, CUVIDGETDECODESTATUS * decodeStatus),    \
      (decoder, index, decodeStatus))                                                                              \
    X(CUresult, cuvidReconfigureDecoder, (CUvideodecoder decoder, CUVIDRECONFIGUREDECODERINFO * info),             \
      (decoder, info))                                                                                             \
    X(CUresult, cuvidMapVideoFrame64,                                                                              \
      (CUvideodecoder decoder, int index, unsigned long long* pointer, unsigned int* pitch,                        \
       CUVIDPROCPARAMS* params),                                                                                   \
      (decoder, index, pointer, pitch, params))                                                                    \
    X(CUresult, cuvidUnmapVideoFrame64, (CUvideodecoder decoder, unsigned long long pointer), (decoder, pointer))  \
    X(CUresult, cuvidCtxLockCreate, (CUvideoctxlock * lock, CUcontext context), (lock, context))                   \
    X(CUresult, cuvidCtxLockDestroy, (CUvideoctxlock lock), (lock))                                                \
    X(CUresult, cuvidCtxLock, (CUvideoctxlock lock, unsigned int flags), (lock, flags))                            \
    X(CUresult, cuvidCtxUnlock, (CUvideoctxlock lock, unsigned int flags), (lock, flags))                          \
    X(CUresult, cuvidCreateVideoSource, (CUvideosource * source, const char* file, CUVIDSOURCEPARAMS* params),     \
      (source, file, params))                                                                                      \
    X(CUresult, cuvidCreateVideoSourceW,                                                                           \
      (CUvideosource * source, const wchar_t* file, CUVIDSOURCEPARAMS* params), (source, file, params))            \
    X(CUresult, cuvidDestroyVideoSource, (CUvideosource source), (source))                                         \
    X(CUresult, cuvidSetVideoSourceState, (CUvideosource source, cudaVideoState state), (source, state))           \
    X(cudaVideoState, cuvidGetVideoSourceState, (CUvideosource source), (source))                                  \
    X(CUresult, cuvidGetSourceVideoFormat, (CUvideosource source, CUVIDEOFORMAT * format, unsigned int flags),     \
      (source, format, flags))                                                                                     \
    X(CUresult, cuvidGetSourceAudioFormat, (CUvideosource source, CUAUDIOFORMAT * format, unsigned int flags),     \
      (source, format, flags))                                                                                     \
    X(CUresult, cuvidCreateVideoParser, (CUvideoparser * parser, CUVIDPARSERPARAMS * params), (parser, params))    \
    X(CUresult, cuvidParseVideoData, (CUvideoparser parser, CUVIDSOURCEDATAPACKET * packet), (parser, packet))     \
    X(CUresult, cuvidDestroyVideoParser, (CUvideoparser parser), (parser))

#define TAV_CUVID_ARGUMENTS(...) __VA_ARGS__

// The typedef t<entry point> of the codec headers is the prototype the loader calls it with.
#define TAV_CUVID_DEFINE_ENTRY_POINT(Status, entryPoint, parameters, arguments)                           \
    extern "C" __attribute__((visibility("default"))) Status entryPoint parameters                        \
    {                                                                                                     \
        return answer<Status>(#entryPoint, TAV_CUVID_ARGUMENTS arguments);                                \
    }                                                                                                     \
    static_assert(std::is_same_v<decltype(entryPoint), t##entryPoint>, #entryPoint " has the wrong prototype");

TAV_CUVID_ENTRY_POINTS(TAV_CUVID_DEFINE_ENTRY_POINT)
