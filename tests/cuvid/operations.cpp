#include "operations.h"

namespace tav::test::cuvid {

namespace {

// Distinct argument values, so that a swapped or altered argument shows. The operations never dereference them.
constexpr std::uintptr_t kHandle = 0x1000;
constexpr std::uintptr_t kOut = 0x2008;
constexpr std::uintptr_t kParams = 0x3010;
constexpr std::uintptr_t kPitch = 0x4018;
constexpr int kPicIndex = -3;
constexpr std::uint64_t kPicIndexWord = static_cast<std::uint64_t>(kPicIndex);
constexpr unsigned long long kDevicePointer = 0xfedcba9876543210ull;
constexpr unsigned int kFlags = 0x8000005au;

template <class T>
T* fake(std::uintptr_t address)
{
    return reinterpret_cast<T*>(address);
}

}  // namespace

const std::vector<Operation>& operations()
{
    using tav::nvidia::CuVid;
    static const std::vector<Operation> table = {
        {"createDecoder", "cuvidCreateDecoder", 38,
         [](CuVid& c) { return c.createDecoder(fake<void*>(kOut), fake<_CUVIDDECODECREATEINFO>(kParams)); },
         {kOut, kParams}},
        {"destroyDecoder", "cuvidDestroyDecoder", 47,
         [](CuVid& c) { return c.destroyDecoder(fake<void>(kHandle)); }, {kHandle}},
        {"decodePicture", "cuvidDecodePicture", 56,
         [](CuVid& c) { return c.decodePicture(fake<void>(kHandle), fake<_CUVIDPICPARAMS>(kParams)); },
         {kHandle, kParams}},
        {"mapVideoFrame", "cuvidMapVideoFrame64", 65,
         [](CuVid& c) {
             return c.mapVideoFrame(fake<void>(kHandle), kPicIndex, fake<unsigned long long>(kOut),
                                    fake<unsigned int>(kPitch), fake<_CUVIDPROCPARAMS>(kParams));
         },
         {kHandle, kPicIndexWord, kOut, kPitch, kParams}},
        {"unmapVideoFrame", "cuvidUnmapVideoFrame64", 74,
         [](CuVid& c) { return c.unmapVideoFrame(fake<void>(kHandle), kDevicePointer); },
         {kHandle, kDevicePointer}},
        {"ctxLockCreate", "cuvidCtxLockCreate", 83,
         [](CuVid& c) { return c.ctxLockCreate(fake<_CUcontextlock_st*>(kOut), fake<CUctx_st>(kHandle)); },
         {kOut, kHandle}},
        {"ctxLockDestroy", "cuvidCtxLockDestroy", 92,
         [](CuVid& c) { return c.ctxLockDestroy(fake<_CUcontextlock_st>(kHandle)); }, {kHandle}},
        {"ctxLock", "cuvidCtxLock", 101,
         [](CuVid& c) { return c.ctxLock(fake<_CUcontextlock_st>(kHandle), kFlags); }, {kHandle, kFlags}},
        {"ctxUnlock", "cuvidCtxUnlock", 110,
         [](CuVid& c) { return c.ctxUnlock(fake<_CUcontextlock_st>(kHandle), kFlags); }, {kHandle, kFlags}},
        {"createVideoParser", "cuvidCreateVideoParser", 119,
         [](CuVid& c) { return c.createVideoParser(fake<void*>(kOut), fake<_CUVIDPARSERPARAMS>(kParams)); },
         {kOut, kParams}},
        {"parseVideoData", "cuvidParseVideoData", 128,
         [](CuVid& c) { return c.parseVideoData(fake<void>(kHandle), fake<_CUVIDSOURCEDATAPACKET>(kParams)); },
         {kHandle, kParams}},
        {"destroyVideoParser", "cuvidDestroyVideoParser", 137,
         [](CuVid& c) { return c.destroyVideoParser(fake<void>(kHandle)); }, {kHandle}},
    };
    return table;
}

}  // namespace tav::test::cuvid
