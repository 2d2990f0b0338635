#include <tav/nvidia/nvenc>

#include <tav/nvidia/nvcodecheadererrordomain>

#include "codecheaderloader.h"

#include <cstdint>
#include <mutex>
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

template <class... Entries>
bool allSet(const List& list, Entries List::*... entries) noexcept
{
    return ((list.*entries != nullptr) && ...);
}

// Whether instance creation filled every entry that an operation calls. A list it reported as filled may still
// lack some (a faulty or hostile driver); such a list is refused at load rather than called through.
bool complete(const List& list) noexcept
{
    return allSet(list, &List::nvEncGetEncodeGUIDCount, &List::nvEncGetEncodeGUIDs,
                  &List::nvEncGetEncodeProfileGUIDCount, &List::nvEncGetEncodeProfileGUIDs,
                  &List::nvEncGetInputFormatCount, &List::nvEncGetInputFormats, &List::nvEncGetEncodeCaps,
                  &List::nvEncGetEncodePresetCount, &List::nvEncGetEncodePresetGUIDs, &List::nvEncGetEncodePresetConfig,
                  &List::nvEncInitializeEncoder, &List::nvEncCreateInputBuffer, &List::nvEncDestroyInputBuffer,
                  &List::nvEncCreateBitstreamBuffer, &List::nvEncDestroyBitstreamBuffer, &List::nvEncEncodePicture,
                  &List::nvEncLockBitstream, &List::nvEncUnlockBitstream, &List::nvEncLockInputBuffer,
                  &List::nvEncUnlockInputBuffer, &List::nvEncGetEncodeStats, &List::nvEncGetSequenceParams,
                  &List::nvEncRegisterAsyncEvent, &List::nvEncUnregisterAsyncEvent, &List::nvEncMapInputResource,
                  &List::nvEncUnmapInputResource, &List::nvEncDestroyEncoder, &List::nvEncInvalidateRefFrames,
                  &List::nvEncOpenEncodeSessionEx, &List::nvEncRegisterResource, &List::nvEncUnregisterResource,
                  &List::nvEncReconfigureEncoder, &List::nvEncCreateMVBuffer, &List::nvEncDestroyMVBuffer,
                  &List::nvEncRunMotionEstimationOnly);
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
    NvencFunctions* loaded = functions.exchange(nullptr, std::memory_order_acq_rel);
    functionList = List{};
    nvenc_free_functions(&loaded);
}

Result NvEnc::loadLib() noexcept
{
    if (functions.load(std::memory_order_acquire) != nullptr) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    const std::lock_guard<std::mutex> lock(loadMutex);
    // Another thread may have finished the load while this one waited.
    if (functions.load(std::memory_order_relaxed) != nullptr) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    // The loader publishes its record before filling it; this one is published only with a usable list.
    NvencFunctions* loaded = nullptr;
    if (nvenc_load_functions(&loaded, nullptr) != 0) {
        return failure<detail::nvcodecheader_error_domain>("nvenc", sourceFile, openLine,
                                                           boost::stacktrace::stacktrace());
    }
    // Start from an empty list, so that nothing an earlier, failed creation left in it survives.
    functionList = List{};
    functionList.version = functionListVersion;
    Result created = wrapStatus(loaded->NvEncodeAPICreateInstance(&functionList), sourceFile, createInstanceLine);
    if (created.has_value() && !complete(functionList)) {
        // The driver lacks what the binding calls: reported as an unimplemented feature of instance creation.
        created = wrapStatus(NV_ENC_ERR_UNIMPLEMENTED, sourceFile, createInstanceLine);
    }
    if (created.has_error()) {
        // The list holds no usable entry points: close the library so that the next call starts over instead of
        // calling through the list.
        nvenc_free_functions(&loaded);
        return created;
    }
    functions.store(loaded, std::memory_order_release);
    return created;
}

Result NvEnc::wrapStatus(NVENCSTATUS status, const char* file, int line) const noexcept
{
    if (status == NV_ENC_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return failure<detail::nvenc_error_domain>(status, file, line, boost::stacktrace::stacktrace());
}

template <class Entry, class Words, class... Args>
Result NvEnc::call(Entry List::*entry, const Words& words, int line, Args... args) noexcept
{
    return callAccepting(entry, words, line, onlySuccess, args...);
}

template <class Entry, class Words, class Accept, class... Args>
Result NvEnc::callAccepting(Entry List::*entry, const Words& words, int line, const Accept& alsoSuccess,
                            Args... args) noexcept
{
    // Tested here first, so that a loaded binding goes straight to the call.
    if (functions.load(std::memory_order_acquire) == nullptr) {
        if (Result loaded = loadLib(); loaded.has_error()) {
            return loaded;
        }
    }
    words.write();
    const NVENCSTATUS status = (functionList.*entry)(args...);
    if (status == NV_ENC_SUCCESS || alsoSuccess(status)) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return wrapStatus(status, sourceFile, line);
}

// Each operation: its list entry, the version words it writes and the line its errors name.

Result NvEnc::getEncodeGUIDCount(void* encoder, unsigned int* encodeGUIDCount) noexcept
{
    return call(&List::nvEncGetEncodeGUIDCount, noVersions, 54, encoder, encodeGUIDCount);
}

Result NvEnc::getEncodeGUIDs(void* encoder, GUID* GUIDs, unsigned int guidArraySize, unsigned int* GUIDCount) noexcept
{
    return call(&List::nvEncGetEncodeGUIDs, noVersions, 63, encoder, GUIDs, guidArraySize, GUIDCount);
}

Result NvEnc::getEncodeProfileGUIDCount(void* encoder, GUID encodeGUID, unsigned int* encodeProfileGUIDCount) noexcept
{
    return call(&List::nvEncGetEncodeProfileGUIDCount, noVersions, 72, encoder, encodeGUID, encodeProfileGUIDCount);
}

Result NvEnc::getEncodeProfileGUIDs(void* encoder, GUID encodeGUID, GUID* profileGUIDs, unsigned int guidArraySize,
                                    unsigned int* GUIDCount) noexcept
{
    return call(&List::nvEncGetEncodeProfileGUIDs, noVersions, 81, encoder, encodeGUID, profileGUIDs, guidArraySize,
                GUIDCount);
}

Result NvEnc::getInputFormatCount(void* encoder, GUID encodeGUID, unsigned int* inputFmtCount) noexcept
{
    return call(&List::nvEncGetInputFormatCount, noVersions, 90, encoder, encodeGUID, inputFmtCount);
}

Result NvEnc::getInputFormats(void* encoder, GUID encodeGUID, _NV_ENC_BUFFER_FORMAT* inputFmts,
                              unsigned int inputFmtArraySize, unsigned int* inputFmtCount) noexcept
{
    return call(&List::nvEncGetInputFormats, noVersions, 99, encoder, encodeGUID, inputFmts, inputFmtArraySize,
                inputFmtCount);
}

Result NvEnc::getEncodeCAPS(void* encoder, GUID encodeGUID, _NV_ENC_CAPS_PARAM* capsParam, int* capsVal) noexcept
{
    return call(&List::nvEncGetEncodeCaps, versions(capsParam, capsParamVersion), 109, encoder, encodeGUID, capsParam,
                capsVal);
}

Result NvEnc::getEncodePresetCount(void* encoder, GUID encodeGUID, unsigned int* encodePresetGUIDCount) noexcept
{
    return call(&List::nvEncGetEncodePresetCount, noVersions, 118, encoder, encodeGUID, encodePresetGUIDCount);
}

Result NvEnc::getEncodePresetGUIDs(void* encoder, GUID encodeGUID, GUID* presetGUIDs, unsigned int guidArraySize,
                                   unsigned int* encodePresetGUIDCount) noexcept
{
    return call(&List::nvEncGetEncodePresetGUIDs, noVersions, 127, encoder, encodeGUID, presetGUIDs, guidArraySize,
                encodePresetGUIDCount);
}

Result NvEnc::getEncodePresetConfig(void* encoder, GUID encodeGUID, GUID presetGUID,
                                    _NV_ENC_PRESET_CONFIG* presetConfig) noexcept
{
    return call(&List::nvEncGetEncodePresetConfig,
                versions(presetConfig, presetConfigVersion, &_NV_ENC_PRESET_CONFIG::presetCfg, configVersion), 138,
                encoder, encodeGUID, presetGUID, presetConfig);
}

Result NvEnc::initializeEncoder(void* encoder, _NV_ENC_INITIALIZE_PARAMS* createEncodeParams) noexcept
{
    return call(&List::nvEncInitializeEncoder, versions(createEncodeParams, initializeParamsVersion), 148, encoder,
                createEncodeParams);
}

Result NvEnc::createInputBuffer(void* encoder, _NV_ENC_CREATE_INPUT_BUFFER* createInputBufferParams) noexcept
{
    return call(&List::nvEncCreateInputBuffer, versions(createInputBufferParams, createInputBufferVersion), 158,
                encoder, createInputBufferParams);
}

Result NvEnc::destroyInputBuffer(void* encoder, void* inputBuffer) noexcept
{
    return call(&List::nvEncDestroyInputBuffer, noVersions, 167, encoder, inputBuffer);
}

Result NvEnc::createBitstreamBuffer(void* encoder,
                                    _NV_ENC_CREATE_BITSTREAM_BUFFER* createBitstreamBufferParams) noexcept
{
    return call(&List::nvEncCreateBitstreamBuffer, versions(createBitstreamBufferParams, createBitstreamBufferVersion),
                177, encoder, createBitstreamBufferParams);
}

Result NvEnc::destroyBitstreamBuffer(void* encoder, void* bitstreamBuffer) noexcept
{
    return call(&List::nvEncDestroyBitstreamBuffer, noVersions, 186, encoder, bitstreamBuffer);
}

Result NvEnc::encodePicture(void* encoder, _NV_ENC_PIC_PARAMS* encodePicParams) noexcept
{
    // At end of stream the encoder answers that it needs more input while it drains; that ends a flush.
    const auto endOfStream = [encodePicParams](NVENCSTATUS status) noexcept {
        return status == NV_ENC_ERR_NEED_MORE_INPUT && (encodePicParams->encodePicFlags & NV_ENC_PIC_FLAG_EOS) != 0;
    };
    return callAccepting(&List::nvEncEncodePicture, versions(encodePicParams, picParamsVersion), 200, endOfStream,
                         encoder, encodePicParams);
}

Result NvEnc::lockBitstream(void* encoder, _NV_ENC_LOCK_BITSTREAM* lockBitstreamBufferParams) noexcept
{
    return call(&List::nvEncLockBitstream, versions(lockBitstreamBufferParams, lockBitstreamVersion), 213, encoder,
                lockBitstreamBufferParams);
}

Result NvEnc::unlockBitstream(void* encoder, void* bitstreamBuffer) noexcept
{
    return call(&List::nvEncUnlockBitstream, noVersions, 222, encoder, bitstreamBuffer);
}

Result NvEnc::lockInputBuffer(void* encoder, _NV_ENC_LOCK_INPUT_BUFFER* lockInputBufferParams) noexcept
{
    return call(&List::nvEncLockInputBuffer, versions(lockInputBufferParams, lockInputBufferVersion), 232, encoder,
                lockInputBufferParams);
}

Result NvEnc::unlockInputBuffer(void* encoder, void* inputBuffer) noexcept
{
    return call(&List::nvEncUnlockInputBuffer, noVersions, 241, encoder, inputBuffer);
}

Result NvEnc::getEncodeStats(void* encoder, _NV_ENC_STAT* encodeStats) noexcept
{
    return call(&List::nvEncGetEncodeStats, versions(encodeStats, statVersion), 251, encoder, encodeStats);
}

Result NvEnc::getSequenceParams(void* encoder, _NV_ENC_SEQUENCE_PARAM_PAYLOAD* sequenceParamPayload) noexcept
{
    return call(&List::nvEncGetSequenceParams, versions(sequenceParamPayload, sequenceParamPayloadVersion), 261,
                encoder, sequenceParamPayload);
}

Result NvEnc::registerAsyncEvent(void* encoder, _NV_ENC_EVENT_PARAMS* eventParams) noexcept
{
    return call(&List::nvEncRegisterAsyncEvent, versions(eventParams, eventParamsVersion), 271, encoder, eventParams);
}

Result NvEnc::unregisterAsyncEvent(void* encoder, _NV_ENC_EVENT_PARAMS* eventParams) noexcept
{
    return call(&List::nvEncUnregisterAsyncEvent, versions(eventParams, eventParamsVersion), 281, encoder,
                eventParams);
}

Result NvEnc::mapInputResource(void* encoder, _NV_ENC_MAP_INPUT_RESOURCE* mapInputResParams) noexcept
{
    return call(&List::nvEncMapInputResource, versions(mapInputResParams, mapInputResourceVersion), 291, encoder,
                mapInputResParams);
}

Result NvEnc::unmapInputResource(void* encoder, void* mappedInputBuffer) noexcept
{
    return call(&List::nvEncUnmapInputResource, noVersions, 300, encoder, mappedInputBuffer);
}

Result NvEnc::destroyEncoder(void* encoder) noexcept
{
    return call(&List::nvEncDestroyEncoder, noVersions, 309, encoder);
}

Result NvEnc::invalidateRefFrames(void* encoder, unsigned long invalidRefFrameTimeStamp) noexcept
{
    return call(&List::nvEncInvalidateRefFrames, noVersions, 318, encoder, invalidRefFrameTimeStamp);
}

Result NvEnc::openEncodeSessionEx(_NV_ENC_OPEN_ENCODE_SESSIONEX_PARAMS* openSessionExParams, void** encoder) noexcept
{
    return call(&List::nvEncOpenEncodeSessionEx,
                versions(openSessionExParams, openEncodeSessionExParamsVersion,
                         &_NV_ENC_OPEN_ENCODE_SESSIONEX_PARAMS::apiVersion, apiVersion),
                329, openSessionExParams, encoder);
}

Result NvEnc::registerResource(void* encoder, _NV_ENC_REGISTER_RESOURCE* registerResParams) noexcept
{
    return call(&List::nvEncRegisterResource, versions(registerResParams, registerResourceVersion), 339, encoder,
                registerResParams);
}

Result NvEnc::unregisterResource(void* encoder, void* registeredRes) noexcept
{
    return call(&List::nvEncUnregisterResource, noVersions, 348, encoder, registeredRes);
}

Result NvEnc::reconfigureEncoder(void* encoder, _NV_ENC_RECONFIGURE_PARAMS* reInitEncodeParams) noexcept
{
    return call(&List::nvEncReconfigureEncoder, versions(reInitEncodeParams, reconfigureParamsVersion), 358, encoder,
                reInitEncodeParams);
}

Result NvEnc::createMVBuffer(void* encoder, _NV_ENC_CREATE_MV_BUFFER* createMVBufferParams) noexcept
{
    return call(&List::nvEncCreateMVBuffer, versions(createMVBufferParams, createMVBufferVersion), 368, encoder,
                createMVBufferParams);
}

Result NvEnc::destroyMVBuffer(void* encoder, void* mvBuffer) noexcept
{
    return call(&List::nvEncDestroyMVBuffer, noVersions, 377, encoder, mvBuffer);
}

Result NvEnc::runMotionEstimationOnly(void* encoder, _NV_ENC_MEONLY_PARAMS* meOnlyParams) noexcept
{
    return call(&List::nvEncRunMotionEstimationOnly, versions(meOnlyParams, meOnlyParamsVersion), 387, encoder,
                meOnlyParams);
}

}  // namespace tav::nvidia
