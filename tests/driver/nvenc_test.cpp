// The encoder binding against NVIDIA's libnvidia-encode without a GPU: the function list at API 8.1, and the
// library's refusals of sessions it cannot open and of calls without a session. A branch whose library lacks an
// entry point that the binding resolves answers every call with the load's failure.
#include "branches.h"
#include "support.h"

#include <tav/nvidia/nvenc>

#include <dlfcn.h>

#include <cstring>
#include <utility>

namespace tav::test::driver {
namespace {

using tav::nvidia::NvEnc;
using tav::nvidia::detail::nvenc_error_domain;

// The function list's version word at API 8.1 (revision 2).
constexpr std::uint32_t functionList81 = 0x71020008;

// The same at the highest API the branch's library supports: the major version in the low byte, the minor in the top.
std::uint32_t highestFunctionList()
{
    return (functionList81 & ~0x0f0000ffu) | branch().nvencHighestMajor | (branch().nvencHighestMinor << 24);
}

using CreateInstance = NVENCSTATUS (*)(NV_ENCODE_API_FUNCTION_LIST*);

// The library's own NvEncodeAPICreateInstance, as another component of the process would call it.
NVENCSTATUS createInstance(std::uint32_t version, NV_ENCODE_API_FUNCTION_LIST& list)
{
    void* library = dlopen("libnvidia-encode.so.1", RTLD_NOW);
    if (library == nullptr) {
        ADD_FAILURE() << dlerror();
        return NV_ENC_ERR_GENERIC;
    }
    const auto create = reinterpret_cast<CreateInstance>(dlsym(library, "NvEncodeAPICreateInstance"));
    std::memset(&list, 0, sizeof(list));
    list.version = version;
    const NVENCSTATUS status = create(&list);
    dlclose(library);
    return status;
}

NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS cudaSession(void* device)
{
    NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS params;
    std::memset(&params, 0, sizeof(params));
    params.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
    params.device = device;
    return params;
}

bool loads(const tav::nvidia::Result& result, const LogCapture& capture)
{
    return driver::loads(result, capture, "nvenc", branch().nvencMissing);
}

void expectError(const tav::nvidia::Result& result, NVENCSTATUS status, const std::string& message)
{
    const auto* value = valueOf<nvenc_error_domain>(result);
    ASSERT_NE(value, nullptr) << domainOf(result) << ": " << messageOf(result);
    EXPECT_EQ(value->status, status) << messageOf(result);
    EXPECT_EQ(messageOf(result), message);
    EXPECT_TRUE(startsWith(text(value->origin), "(src/nvenc:")) << text(value->origin);
}

TEST(NvEncDriver, TheListAt81FillsEveryEntryTheBindingCalls)
{
    LogCapture capture;
    NV_ENCODE_API_FUNCTION_LIST list;
    const NVENCSTATUS created = createInstance(functionList81, list);
    EXPECT_EQ(created, branch().nvenc81Status);
    const std::pair<const char*, const void*> entries[] = {
#define TAV_ENTRY(name) {#name, reinterpret_cast<const void*>(list.name)}
        TAV_ENTRY(nvEncGetEncodeGUIDCount),        TAV_ENTRY(nvEncGetEncodeGUIDs),
        TAV_ENTRY(nvEncGetEncodeProfileGUIDCount), TAV_ENTRY(nvEncGetEncodeProfileGUIDs),
        TAV_ENTRY(nvEncGetInputFormatCount),       TAV_ENTRY(nvEncGetInputFormats),
        TAV_ENTRY(nvEncGetEncodeCaps),             TAV_ENTRY(nvEncGetEncodePresetCount),
        TAV_ENTRY(nvEncGetEncodePresetGUIDs),      TAV_ENTRY(nvEncGetEncodePresetConfig),
        TAV_ENTRY(nvEncInitializeEncoder),         TAV_ENTRY(nvEncCreateInputBuffer),
        TAV_ENTRY(nvEncDestroyInputBuffer),        TAV_ENTRY(nvEncCreateBitstreamBuffer),
        TAV_ENTRY(nvEncDestroyBitstreamBuffer),    TAV_ENTRY(nvEncEncodePicture),
        TAV_ENTRY(nvEncLockBitstream),             TAV_ENTRY(nvEncUnlockBitstream),
        TAV_ENTRY(nvEncLockInputBuffer),           TAV_ENTRY(nvEncUnlockInputBuffer),
        TAV_ENTRY(nvEncGetEncodeStats),            TAV_ENTRY(nvEncGetSequenceParams),
        TAV_ENTRY(nvEncRegisterAsyncEvent),        TAV_ENTRY(nvEncUnregisterAsyncEvent),
        TAV_ENTRY(nvEncMapInputResource),          TAV_ENTRY(nvEncUnmapInputResource),
        TAV_ENTRY(nvEncDestroyEncoder),            TAV_ENTRY(nvEncInvalidateRefFrames),
        TAV_ENTRY(nvEncOpenEncodeSessionEx),       TAV_ENTRY(nvEncRegisterResource),
        TAV_ENTRY(nvEncUnregisterResource),        TAV_ENTRY(nvEncReconfigureEncoder),
        TAV_ENTRY(nvEncCreateMVBuffer),            TAV_ENTRY(nvEncDestroyMVBuffer),
        TAV_ENTRY(nvEncRunMotionEstimationOnly),
#undef TAV_ENTRY
    };
    // A list the library refused holds nothing to compare.
    for (const auto& [name, entry] : entries) {
        if (created == NV_ENC_SUCCESS) {
            EXPECT_NE(entry, nullptr) << name;
        }
    }
    const auto loaded = NvEnc::instance().loadLib();
    if (loads(loaded, capture)) {
        EXPECT_FALSE(loaded.has_error()) << messageOf(loaded);
    }
}

TEST(NvEncDriver, OpeningASessionWithoutAUsableDeviceFails)
{
    LogCapture capture;
    auto withoutDevice = cudaSession(nullptr);
    void* encoder = nullptr;
    const auto opened = NvEnc::instance().openEncodeSessionEx(&withoutDevice, &encoder);
    EXPECT_EQ(encoder, nullptr);
    if (!loads(opened, capture)) {
        return;
    }
    expectError(opened, NV_ENC_ERR_INVALID_PTR, "NvEnc failed: One or more invalid pointers");

    // Anything but a CUDA context where one is expected.
    int junk[64] = {};
    auto withJunk = cudaSession(junk);
    expectError(NvEnc::instance().openEncodeSessionEx(&withJunk, &encoder), NV_ENC_ERR_UNSUPPORTED_DEVICE,
                "NvEnc failed: Device is not supported");
    EXPECT_EQ(encoder, nullptr);

    const auto records = creationRecords(capture);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(startsWith(records[0], "Create error in 'nvenc error domain': NvEnc failed: One or more invalid "
                                       "pointers [] (src/nvenc:"))
        << records[0];
}

TEST(NvEncDriver, CallsWithoutAnEncoderFailWithInvalidEncoderDevice)
{
    LogCapture capture;
    NvEnc& nvenc = NvEnc::instance();
    unsigned int count = 0;
    GUID guid{};
    NV_ENC_INITIALIZE_PARAMS initialize;
    std::memset(&initialize, 0, sizeof(initialize));
    NV_ENC_STAT stats;
    std::memset(&stats, 0, sizeof(stats));
    std::vector<std::pair<const char*, tav::nvidia::Result>> calls;
    calls.emplace_back("getEncodeGUIDCount", nvenc.getEncodeGUIDCount(nullptr, &count));
    calls.emplace_back("getEncodeGUIDs", nvenc.getEncodeGUIDs(nullptr, &guid, 1, &count));
    calls.emplace_back("getEncodePresetCount", nvenc.getEncodePresetCount(nullptr, guid, &count));
    calls.emplace_back("initializeEncoder", nvenc.initializeEncoder(nullptr, &initialize));
    calls.emplace_back("getEncodeStats", nvenc.getEncodeStats(nullptr, &stats));
    calls.emplace_back("destroyEncoder", nvenc.destroyEncoder(nullptr));
    for (const auto& [name, result] : calls) {
        SCOPED_TRACE(name);
        if (loads(result, capture)) {
            expectError(result, NV_ENC_ERR_INVALID_ENCODERDEVICE,
                        "NvEnc failed: Supplied encoder device is not valid");
        }
    }
}

// The library keeps one API version for the whole process: the last one any caller created an instance with. A
// library whose highest API is 8.1 has no newer one, and our sessions stay as they were.
TEST(NvEncDriver, AnInstanceAtANewerApiInTheSameProcessBreaksOurSessions)
{
    LogCapture capture;
    const auto loaded = NvEnc::instance().loadLib();
    if (!loads(loaded, capture)) {
        return;
    }
    ASSERT_FALSE(loaded.has_error()) << messageOf(loaded);
    NV_ENCODE_API_FUNCTION_LIST newer;
    ASSERT_EQ(createInstance(highestFunctionList(), newer), NV_ENC_SUCCESS);

    auto withoutDevice = cudaSession(nullptr);
    void* encoder = nullptr;
    const auto opened = NvEnc::instance().openEncodeSessionEx(&withoutDevice, &encoder);
    if (highestFunctionList() == functionList81) {
        expectError(opened, NV_ENC_ERR_INVALID_PTR, "NvEnc failed: One or more invalid pointers");
    } else {
        expectError(opened, NV_ENC_ERR_INVALID_VERSION, "NvEnc failed: Invalid struct version used");
    }
}

}  // namespace
}  // namespace tav::test::driver
