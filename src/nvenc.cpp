#include <tav/nvidia/nvenc>

#include <tav/nvidia/nvcodecheadererrordomain>

#include "codecheaderloader.h"

#include <tav/base/logrecord>

#include <cstdint>
#include <type_traits>

namespace tav::nvidia {

namespace {

using tav::base::system_error2_detail::failure;
using List = NV_ENCODE_API_FUNCTION_LIST;
using namespace detail::nvenc81;

// Errors name this file so, whatever it is called on disk.
constexpr const auto& sourceFile = detail::nvencSourceFile;
constexpr int openLine = 38;
constexpr int createInstanceLine = 41;

// What was missing has gone to the log through the loader's failure hook; the error names the component.
Result openFailure() noexcept
{
    return failure<detail::nvcodecheader_error_domain>("nvenc", sourceFile, openLine, boost::stacktrace::stacktrace());
}

// The bits of a version word that hold the API version.
constexpr std::uint32_t apiVersionBits = 0x0f0000ff;

// The header's structures are the ones the 8.1 driver expects only while their revision and flag bits agree with
// the words the binding writes, which is checked here against the header the library is built with.
constexpr bool matchesHeader(std::uint32_t word, std::uint32_t headerWord)
{
    return (word & apiVersionBits) == apiVersion && (word & ~apiVersionBits) == (headerWord & ~apiVersionBits);
}
static_assert(matchesHeader(functionListVersion, NV_ENCODE_API_FUNCTION_LIST_VER));
static_assert(matchesHeader(capsParamVersion, NV_ENC_CAPS_PARAM_VER));
static_assert(matchesHeader(presetConfigVersion, NV_ENC_PRESET_CONFIG_VER));
static_assert(matchesHeader(configVersion, NV_ENC_CONFIG_VER));
static_assert(matchesHeader(initializeParamsVersion, NV_ENC_INITIALIZE_PARAMS_VER));
static_assert(matchesHeader(createInputBufferVersion, NV_ENC_CREATE_INPUT_BUFFER_VER));
static_assert(matchesHeader(createBitstreamBufferVersion, NV_ENC_CREATE_BITSTREAM_BUFFER_VER));
static_assert(matchesHeader(picParamsVersion, NV_ENC_PIC_PARAMS_VER));
static_assert(matchesHeader(lockBitstreamVersion, NV_ENC_LOCK_BITSTREAM_VER));
static_assert(matchesHeader(lockInputBufferVersion, NV_ENC_LOCK_INPUT_BUFFER_VER));
static_assert(matchesHeader(statVersion, NV_ENC_STAT_VER));
static_assert(matchesHeader(sequenceParamPayloadVersion, NV_ENC_SEQUENCE_PARAM_PAYLOAD_VER));
static_assert(matchesHeader(eventParamsVersion, NV_ENC_EVENT_PARAMS_VER));
static_assert(matchesHeader(mapInputResourceVersion, NV_ENC_MAP_INPUT_RESOURCE_VER));
static_assert(matchesHeader(openEncodeSessionExParamsVersion, NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS_VER));
static_assert(matchesHeader(registerResourceVersion, NV_ENC_REGISTER_RESOURCE_VER));
static_assert(matchesHeader(reconfigureParamsVersion, NV_ENC_RECONFIGURE_PARAMS_VER));
static_assert(matchesHeader(createMVBufferVersion, NV_ENC_CREATE_MV_BUFFER_VER));
static_assert(matchesHeader(meOnlyParamsVersion, NV_ENC_MEONLY_PARAMS_VER));

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
    functions_.release([this](NvencFunctions* loaded) noexcept {
        functionList_ = List{};
        nvenc_free_functions(&loaded);
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    });
}

Result NvEnc::loadLib() noexcept
{
    return functions_.ensure([this](NvencFunctions*& loaded) noexcept -> Result {
        // The loader publishes its record before filling it; this one is published only with a usable list.
        if (nvenc_load_functions(&loaded, nullptr) != 0) {
            return openFailure();
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
    }, []() noexcept {
        // Reported like a load that the loader could not do, with the reason where the loader's would be.
        base::writeLogRecord(sourceFile, openLine, "loadLib", base::LogLevel::error, detail::loadUnderWayText);
        return openFailure();
    });
}

Result NvEnc::wrapStatus(NVENCSTATUS status, const char* file, int line) const noexcept
{
    if (status == NV_ENC_SUCCESS) {
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }
    return failure<detail::nvenc_error_domain>(status, file, line, boost::stacktrace::stacktrace());
}

}  // namespace tav::nvidia
