#include <tav/nvidia/nvenc>

#include <tav/nvidia/nvcodecheadererrordomain>

#include "codecheaderloader.h"

#include <cstdint>
#include <type_traits>

namespace tav::nvidia {

namespace {

using tav::base::system_error2_detail::failure;
using List = NV_ENCODE_API_FUNCTION_LIST;

// Errors name this file so, whatever it is called on disk.
constexpr char sourceFile[] = "src/nvenc";
constexpr int openLine = 38;
constexpr int createInstanceLine = 41;

// The encoder API this binding speaks is 8.1, whatever the installed header's: the major version in the low byte,
// the minor one in bits 24 to 27. A structure's version word is that API version, the structure's revision in
// bits 16 to 23, 7 in bits 28 to 30 and, for some structures, bit 31.
constexpr std::uint32_t apiVersion = 0x01000008;
constexpr std::uint32_t apiVersionBits = 0x0f0000ff;

// A version word of API 8.1 for a structure whose header macro is HeaderWord. The header's structures are the
// ones the 8.1 driver expects only while the revision and flag bits agree, which is checked here.
template <std::uint32_t Word, std::uint32_t HeaderWord>
struct Version81 {
    static_assert((Word & apiVersionBits) == apiVersion, "an API 8.1 version word");
    static_assert((Word & ~apiVersionBits) == (HeaderWord & ~apiVersionBits),
                  "the header's structure has the revision that API 8.1 gives it");
    static constexpr std::uint32_t value = Word;
};

constexpr std::uint32_t functionListVersion = Version81<0x71020008, NV_ENCODE_API_FUNCTION_LIST_VER>::value;
constexpr std::uint32_t capsParamVersion = Version81<0x71010008, NV_ENC_CAPS_PARAM_VER>::value;
constexpr std::uint32_t presetConfigVersion = Version81<0xf1040008, NV_ENC_PRESET_CONFIG_VER>::value;
constexpr std::uint32_t configVersion = Version81<0xf1070008, NV_ENC_CONFIG_VER>::value;
constexpr std::uint32_t initializeParamsVersion = Version81<0xf1050008, NV_ENC_INITIALIZE_PARAMS_VER>::value;
constexpr std::uint32_t createInputBufferVersion = Version81<0x71010008, NV_ENC_CREATE_INPUT_BUFFER_VER>::value;
constexpr std::uint32_t createBitstreamBufferVersion =
    Version81<0x71010008, NV_ENC_CREATE_BITSTREAM_BUFFER_VER>::value;
constexpr std::uint32_t picParamsVersion = Version81<0xf1040008, NV_ENC_PIC_PARAMS_VER>::value;
constexpr std::uint32_t lockBitstreamVersion = Version81<0x71010008, NV_ENC_LOCK_BITSTREAM_VER>::value;
constexpr std::uint32_t lockInputBufferVersion = Version81<0x71010008, NV_ENC_LOCK_INPUT_BUFFER_VER>::value;
constexpr std::uint32_t statVersion = Version81<0x71010008, NV_ENC_STAT_VER>::value;
constexpr std::uint32_t sequenceParamPayloadVersion = Version81<0x71010008, NV_ENC_SEQUENCE_PARAM_PAYLOAD_VER>::value;
constexpr std::uint32_t eventParamsVersion = Version81<0x71010008, NV_ENC_EVENT_PARAMS_VER>::value;
constexpr std::uint32_t mapInputResourceVersion = Version81<0x71040008, NV_ENC_MAP_INPUT_RESOURCE_VER>::value;
constexpr std::uint32_t openEncodeSessionExParamsVersion =
    Version81<0x71010008, NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS_VER>::value;
constexpr std::uint32_t registerResourceVersion = Version81<0x71030008, NV_ENC_REGISTER_RESOURCE_VER>::value;
constexpr std::uint32_t reconfigureParamsVersion = Version81<0xf1010008, NV_ENC_RECONFIGURE_PARAMS_VER>::value;
constexpr std::uint32_t createMVBufferVersion = Version81<0x71010008, NV_ENC_CREATE_MV_BUFFER_VER>::value;
constexpr std::uint32_t meOnlyParamsVersion = Version81<0x71030008, NV_ENC_MEONLY_PARAMS_VER>::value;

// The version word held in a field: the field itself, or the version of an embedded structure.
std::uint32_t& versionWordOf(std::uint32_t& word) noexcept { return word; }
template <class Embedded>
std::uint32_t& versionWordOf(Embedded& embedded) noexcept
{
    return embedded.version;
}

// The version words an operation writes into the structure it passes: the structure's own and, for two
// structures, a second one in a field of it. Written only once the library is loaded.
template <class Struct, class Field = std::nullptr_t>
struct VersionWords {
    Struct* structure;
    std::uint32_t version;
    Field field = nullptr;
    std::uint32_t fieldVersion = 0;

    void write() const noexcept
    {
        structure->version = version;
        if constexpr (!std::is_null_pointer_v<Field>) {
            versionWordOf(structure->*field) = fieldVersion;
        }
    }
};

template <class Struct>
VersionWords<Struct> versions(Struct* structure, std::uint32_t version) noexcept
{
    return {structure, version};
}

template <class Struct, class Field>
VersionWords<Struct, Field> versions(Struct* structure, std::uint32_t version, Field field,
                                 std::uint32_t fieldVersion) noexcept
{
    return {structure, version, field, fieldVersion};
}

struct NoVersions {
    void write() const noexcept {}
};
constexpr NoVersions noVersions;

constexpr auto onlySuccess = [](NVENCSTATUS) noexcept { return false; };

// X(operation, entry, line, versions, parameters, arguments): each operation, the list entry it calls, the line its
// errors report, the version words it writes, and its parameters as the header declares them.
#define TAV_NVIDIA_NVENC_OPERATIONS(X)                                                                              \
    X(getEncodeGUIDCount, nvEncGetEncodeGUIDCount, 54, noVersions, (void* encoder, unsigned int* encodeGUIDCount),  \
      (encoder, encodeGUIDCount))                                                                                   \
    X(getEncodeGUIDs, nvEncGetEncodeGUIDs, 63, noVersions,                                                          \
      (void* encoder, GUID* GUIDs, unsigned int guidArraySize, unsigned int* GUIDCount),                            \
      (encoder, GUIDs, guidArraySize, GUIDCount))                                                                   \
    X(getEncodeProfileGUIDCount, nvEncGetEncodeProfileGUIDCount, 72, noVersions,                                    \
      (void* encoder, GUID encodeGUID, unsigned int* encodeProfileGUIDCount),                                       \
      (encoder, encodeGUID, encodeProfileGUIDCount))                                                                \
    X(getEncodeProfileGUIDs, nvEncGetEncodeProfileGUIDs, 81, noVersions,                                            \
      (void* encoder, GUID encodeGUID, GUID* profileGUIDs, unsigned int guidArraySize, unsigned int* GUIDCount),    \
      (encoder, encodeGUID, profileGUIDs, guidArraySize, GUIDCount))                                                \
    X(getInputFormatCount, nvEncGetInputFormatCount, 90, noVersions,                                                \
      (void* encoder, GUID encodeGUID, unsigned int* inputFmtCount), (encoder, encodeGUID, inputFmtCount))          \
    X(getInputFormats, nvEncGetInputFormats, 99, noVersions,                                                        \
      (void* encoder, GUID encodeGUID, _NV_ENC_BUFFER_FORMAT* inputFmts, unsigned int inputFmtArraySize,            \
       unsigned int* inputFmtCount),                                                                                \
      (encoder, encodeGUID, inputFmts, inputFmtArraySize, inputFmtCount))                                           \
    X(getEncodeCAPS, nvEncGetEncodeCaps, 109, versions(capsParam, capsParamVersion),                                \
      (void* encoder, GUID encodeGUID, _NV_ENC_CAPS_PARAM* capsParam, int* capsVal),                                \
      (encoder, encodeGUID, capsParam, capsVal))                                                                    \
    X(getEncodePresetCount, nvEncGetEncodePresetCount, 118, noVersions,                                             \
      (void* encoder, GUID encodeGUID, unsigned int* encodePresetGUIDCount),                                        \
      (encoder, encodeGUID, encodePresetGUIDCount))                                                                 \
    X(getEncodePresetGUIDs, nvEncGetEncodePresetGUIDs, 127, noVersions,                                             \
      (void* encoder, GUID encodeGUID, GUID* presetGUIDs, unsigned int guidArraySize,                               \
       unsigned int* encodePresetGUIDCount),                                                                        \
      (encoder, encodeGUID, presetGUIDs, guidArraySize, encodePresetGUIDCount))                                     \
    X(getEncodePresetConfig, nvEncGetEncodePresetConfig, 138,                                                       \
      versions(presetConfig, presetConfigVersion, &_NV_ENC_PRESET_CONFIG::presetCfg, configVersion),                \
      (void* encoder, GUID encodeGUID, GUID presetGUID, _NV_ENC_PRESET_CONFIG* presetConfig),                       \
      (encoder, encodeGUID, presetGUID, presetConfig))                                                              \
    X(initializeEncoder, nvEncInitializeEncoder, 148, versions(createEncodeParams, initializeParamsVersion),        \
      (void* encoder, _NV_ENC_INITIALIZE_PARAMS* createEncodeParams), (encoder, createEncodeParams))                \
    X(createInputBuffer, nvEncCreateInputBuffer, 158, versions(createInputBufferParams, createInputBufferVersion),  \
      (void* encoder, _NV_ENC_CREATE_INPUT_BUFFER* createInputBufferParams), (encoder, createInputBufferParams))    \
    X(destroyInputBuffer, nvEncDestroyInputBuffer, 167, noVersions, (void* encoder, void* inputBuffer),             \
      (encoder, inputBuffer))                                                                                       \
    X(createBitstreamBuffer, nvEncCreateBitstreamBuffer, 177,                                                       \
      versions(createBitstreamBufferParams, createBitstreamBufferVersion),                                          \
      (void* encoder, _NV_ENC_CREATE_BITSTREAM_BUFFER* createBitstreamBufferParams),                                \
      (encoder, createBitstreamBufferParams))                                                                       \
    X(destroyBitstreamBuffer, nvEncDestroyBitstreamBuffer, 186, noVersions, (void* encoder, void* bitstreamBuffer), \
      (encoder, bitstreamBuffer))                                                                                   \
    X(lockBitstream, nvEncLockBitstream, 213, versions(lockBitstreamBufferParams, lockBitstreamVersion),            \
      (void* encoder, _NV_ENC_LOCK_BITSTREAM* lockBitstreamBufferParams), (encoder, lockBitstreamBufferParams))     \
    X(unlockBitstream, nvEncUnlockBitstream, 222, noVersions, (void* encoder, void* bitstreamBuffer),               \
      (encoder, bitstreamBuffer))                                                                                   \
    X(lockInputBuffer, nvEncLockInputBuffer, 232, versions(lockInputBufferParams, lockInputBufferVersion),          \
      (void* encoder, _NV_ENC_LOCK_INPUT_BUFFER* lockInputBufferParams), (encoder, lockInputBufferParams))          \
    X(unlockInputBuffer, nvEncUnlockInputBuffer, 241, noVersions, (void* encoder, void* inputBuffer),               \
      (encoder, inputBuffer))                                                                                       \
    X(getEncodeStats, nvEncGetEncodeStats, 251, versions(encodeStats, statVersion),                                 \
      (void* encoder, _NV_ENC_STAT* encodeStats), (encoder, encodeStats))                                           \
    X(getSequenceParams, nvEncGetSequenceParams, 261, versions(sequenceParamPayload, sequenceParamPayloadVersion),  \
      (void* encoder, _NV_ENC_SEQUENCE_PARAM_PAYLOAD* sequenceParamPayload), (encoder, sequenceParamPayload))       \
    X(registerAsyncEvent, nvEncRegisterAsyncEvent, 271, versions(eventParams, eventParamsVersion),                  \
      (void* encoder, _NV_ENC_EVENT_PARAMS* eventParams), (encoder, eventParams))                                   \
    X(unregisterAsyncEvent, nvEncUnregisterAsyncEvent, 281, versions(eventParams, eventParamsVersion),              \
      (void* encoder, _NV_ENC_EVENT_PARAMS* eventParams), (encoder, eventParams))                                   \
    X(mapInputResource, nvEncMapInputResource, 291, versions(mapInputResParams, mapInputResourceVersion),           \
      (void* encoder, _NV_ENC_MAP_INPUT_RESOURCE* mapInputResParams), (encoder, mapInputResParams))                 \
    X(unmapInputResource, nvEncUnmapInputResource, 300, noVersions, (void* encoder, void* mappedInputBuffer),       \
      (encoder, mappedInputBuffer))                                                                                 \
    X(destroyEncoder, nvEncDestroyEncoder, 309, noVersions, (void* encoder), (encoder))                             \
    X(invalidateRefFrames, nvEncInvalidateRefFrames, 318, noVersions,                                               \
      (void* encoder, unsigned long invalidRefFrameTimeStamp), (encoder, invalidRefFrameTimeStamp))                 \
    X(openEncodeSessionEx, nvEncOpenEncodeSessionEx, 329,                                                           \
      versions(openSessionExParams, openEncodeSessionExParamsVersion,                                               \
               &_NV_ENC_OPEN_ENCODE_SESSIONEX_PARAMS::apiVersion, apiVersion),                                      \
      (_NV_ENC_OPEN_ENCODE_SESSIONEX_PARAMS* openSessionExParams, void** encoder), (openSessionExParams, encoder))  \
    X(registerResource, nvEncRegisterResource, 339, versions(registerResParams, registerResourceVersion),           \
      (void* encoder, _NV_ENC_REGISTER_RESOURCE* registerResParams), (encoder, registerResParams))                  \
    X(unregisterResource, nvEncUnregisterResource, 348, noVersions, (void* encoder, void* registeredRes),           \
      (encoder, registeredRes))                                                                                     \
    X(reconfigureEncoder, nvEncReconfigureEncoder, 358, versions(reInitEncodeParams, reconfigureParamsVersion),     \
      (void* encoder, _NV_ENC_RECONFIGURE_PARAMS* reInitEncodeParams), (encoder, reInitEncodeParams))               \
    X(createMVBuffer, nvEncCreateMVBuffer, 368, versions(createMVBufferParams, createMVBufferVersion),              \
      (void* encoder, _NV_ENC_CREATE_MV_BUFFER* createMVBufferParams), (encoder, createMVBufferParams))             \
    X(destroyMVBuffer, nvEncDestroyMVBuffer, 377, noVersions, (void* encoder, void* mvBuffer), (encoder, mvBuffer)) \
    X(runMotionEstimationOnly, nvEncRunMotionEstimationOnly, 387, versions(meOnlyParams, meOnlyParamsVersion),      \
      (void* encoder, _NV_ENC_MEONLY_PARAMS* meOnlyParams), (encoder, meOnlyParams))

// Whether instance creation filled every entry that an operation calls. A list it reported as filled may still
// lack some (a faulty or hostile driver); such a list is refused at load rather than called through.
bool complete(const List& list) noexcept
{
#define TAV_NVIDIA_NVENC_FILLED(operation, entry, line, words, parameters, arguments) list.entry != nullptr &&
    return TAV_NVIDIA_NVENC_OPERATIONS(TAV_NVIDIA_NVENC_FILLED) list.nvEncEncodePicture != nullptr;
#undef TAV_NVIDIA_NVENC_FILLED
}

}  // namespace

NvEnc& NvEnc::instance()
{
    static NvEnc nvenc;
    return nvenc;
}

NvEnc::~NvEnc()
{
    // Unpublished and emptied before the library closes: a host's destructor that runs after this one and calls
    // an operation then loads afresh instead of calling into the closed library.
    static_cast<void>(functions_.unload([this](NvencFunctions* loaded) noexcept {
        functionList_ = List{};
        nvenc_free_functions(&loaded);
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }));
}

Result NvEnc::loadLib() noexcept
{
    return functions_.ensure([this](NvencFunctions*& loaded) noexcept -> Result {
        // The loader publishes its record before filling it; this one is published only with a usable list.
        if (nvenc_load_functions(&loaded, nullptr) != 0) {
            return failure<detail::nvcodecheader_error_domain>("nvenc", sourceFile, openLine,
                                                               boost::stacktrace::stacktrace());
        }
        // Start from an empty list, so that nothing an earlier, failed creation left in it survives.
        functionList_ = List{};
        functionList_.version = functionListVersion;
        Result created =
            wrapStatus(loaded->NvEncodeAPICreateInstance(&functionList_), sourceFile, createInstanceLine);
        if (created.has_value() && !complete(functionList_)) {
            // The driver lacks what the binding calls: reported as an unimplemented feature of instance creation.
            created = wrapStatus(NV_ENC_ERR_UNIMPLEMENTED, sourceFile, createInstanceLine);
        }
        if (created.has_error()) {
            // The list holds no usable entry points: close the library so that the next call starts over instead
            // of calling through the list.
            nvenc_free_functions(&loaded);
        }
        return created;
    });
}

Result NvEnc::wrapStatus(NVENCSTATUS status, const char* file, int line) const noexcept
{
    if (status == NV_ENC_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return failure<detail::nvenc_error_domain>(status, file, line, boost::stacktrace::stacktrace());
}

template <auto Entry, int Line, class Words, class Accept, class... Args>
Result NvEnc::call(const Words& words, const Accept& alsoSuccess, Args... args) noexcept
{
    // Tested here first, so that a loaded binding goes straight to the call.
    if (functions_.loaded() == nullptr) {
        if (Result loaded = loadLib(); loaded.has_error()) {
            return loaded;
        }
    }
    words.write();
    const NVENCSTATUS status = (functionList_.*Entry)(args...);
    if (status == NV_ENC_SUCCESS || alsoSuccess(status)) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return wrapStatus(status, sourceFile, Line);
}

#define TAV_NVIDIA_NVENC_ARGUMENTS(...) __VA_ARGS__
#define TAV_NVIDIA_NVENC_DEFINE(operation, entry, line, words, parameters, arguments)              \
    Result NvEnc::operation parameters noexcept                                                    \
    {                                                                                              \
        return call<&List::entry, line>(words, onlySuccess, TAV_NVIDIA_NVENC_ARGUMENTS arguments); \
    }
TAV_NVIDIA_NVENC_OPERATIONS(TAV_NVIDIA_NVENC_DEFINE)
#undef TAV_NVIDIA_NVENC_DEFINE
#undef TAV_NVIDIA_NVENC_ARGUMENTS
#undef TAV_NVIDIA_NVENC_OPERATIONS

// The one operation that accepts a status besides success.
Result NvEnc::encodePicture(void* encoder, _NV_ENC_PIC_PARAMS* encodePicParams) noexcept
{
    // At end of stream the encoder answers that it needs more input while it drains; that ends a flush.
    const auto endOfStream = [encodePicParams](NVENCSTATUS status) noexcept {
        return status == NV_ENC_ERR_NEED_MORE_INPUT && (encodePicParams->encodePicFlags & NV_ENC_PIC_FLAG_EOS) != 0;
    };
    return call<&List::nvEncEncodePicture, 200>(versions(encodePicParams, picParamsVersion), endOfStream, encoder,
                                                encodePicParams);
}

}  // namespace tav::nvidia
