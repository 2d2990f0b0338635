// A decoder library that does nothing: it offers every entry point the codec-header loader resolves, and the one
// the benchmarks call succeeds at once without recording anything.
#define TAV_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

TAV_BENCH_EXPORT int cuvidCtxUnlock(void*, unsigned int) { return 0; }

// Resolved by the loader, never called.
#define TAV_BENCH_PRESENT(symbol) \
    TAV_BENCH_EXPORT int symbol() { return 0; }
TAV_BENCH_PRESENT(cuvidGetDecoderCaps)
TAV_BENCH_PRESENT(cuvidCreateDecoder)
TAV_BENCH_PRESENT(cuvidDestroyDecoder)
TAV_BENCH_PRESENT(cuvidDecodePicture)
TAV_BENCH_PRESENT(cuvidGetDecodeStatus)
TAV_BENCH_PRESENT(cuvidReconfigureDecoder)
TAV_BENCH_PRESENT(cuvidMapVideoFrame64)
TAV_BENCH_PRESENT(cuvidUnmapVideoFrame64)
TAV_BENCH_PRESENT(cuvidCtxLockCreate)
TAV_BENCH_PRESENT(cuvidCtxLockDestroy)
TAV_BENCH_PRESENT(cuvidCtxLock)
TAV_BENCH_PRESENT(cuvidCreateVideoSource)
TAV_BENCH_PRESENT(cuvidCreateVideoSourceW)
TAV_BENCH_PRESENT(cuvidDestroyVideoSource)
TAV_BENCH_PRESENT(cuvidSetVideoSourceState)
TAV_BENCH_PRESENT(cuvidGetVideoSourceState)
TAV_BENCH_PRESENT(cuvidGetSourceVideoFormat)
TAV_BENCH_PRESENT(cuvidGetSourceAudioFormat)
TAV_BENCH_PRESENT(cuvidCreateVideoParser)
TAV_BENCH_PRESENT(cuvidParseVideoData)
TAV_BENCH_PRESENT(cuvidDestroyVideoParser)
