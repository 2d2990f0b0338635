#include "report.h"

#include "loader_messages.h"
#include "names.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>
#include <tav/nvidia/nvfbc>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tav::probe {

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::NvFBC;

// Far more than any driver lists of codecs, profiles, formats or presets; a driver that reports more
// is not believed, so that its count cannot exhaust the probe's memory.
constexpr unsigned int maxItems = 64;

using tav::nvidia::detail::nvenc_error_domain;
using tav::nvidia::detail::nvfbc_error_domain;

// The status behind an encoder or capture error, the two domains whose tables read "Unknown" for statuses newer
// than their API.
std::optional<long> tableStatus(const tav::nvidia::Result& result)
{
    if (const auto* nvenc = system_error2::get_if<system_error2::status_code<nvenc_error_domain>>(&result.error())) {
        return static_cast<long>(nvenc->value().status);
    }
    if (const auto* nvfbc = system_error2::get_if<system_error2::status_code<nvfbc_error_domain>>(&result.error())) {
        return static_cast<long>(nvfbc->value().status);
    }
    return std::nullopt;
}

std::optional<long> tableStatus(const tav::nvidia::CaptureResult& result)
{
    return static_cast<long>(result.error().value().status);
}

// The error's message; where it says "Unknown", with the status that the library really returned.
template <class Outcome>
std::string messageOf(const Outcome& outcome)
{
    const auto text = outcome.error().message();
    std::string message(text.data(), text.size());
    constexpr char unknown[] = "Unknown";
    const auto at = message.find(unknown);
    if (const std::optional<long> status = tableStatus(outcome); status && at != std::string::npos) {
        message.insert(at + sizeof(unknown) - 1, " (status " + std::to_string(*status) + ")");
    }
    return message;
}

// Records the outcome of a load in the library's status; true when usable.
template <class Outcome>
bool note(LibraryStatus& status, const Outcome& outcome, LoaderMessages& loaderMessages)
{
    const std::string reported = loaderMessages.take();
    status.usable = !outcome.has_error();
    if (!status.usable) {
        status.error = messageOf(outcome);
        if (!reported.empty()) {
            status.error += " (" + reported + ")";
        }
    }
    return status.usable;
}

// The driver's two-step enumeration: a count, then that many items.
template <class Item, class Count, class List>
std::vector<Item> enumerate(Count count, List list, std::string& error)
{
    unsigned int n = 0;
    if (auto counted = count(&n); counted.has_error()) {
        error = messageOf(counted);
        return {};
    }
    if (n > maxItems) {
        error = "the driver reported " + std::to_string(n) + " items; only the first " + std::to_string(maxItems) +
                " were asked for";
        n = maxItems;
    }
    std::vector<Item> items(n);
    unsigned int filled = 0;
    if (auto listed = list(items.data(), n, &filled); listed.has_error()) {
        error = messageOf(listed);
        return {};
    }
    // The driver's own count of what it wrote is no more trusted than the first.
    items.resize(std::min(filled, n));
    return items;
}

// cuDriverGetVersion needs no cuInit, so the library tells its version also where it finds no device; after such a
// failed load the binding has closed it again, so it is opened here as the binding opens it. The file the loader
// found names the release.
void askLibcuda(Report& report)
{
    void* library = dlopen("libcuda.so", RTLD_NOW);
    if (library == nullptr) {
        library = dlopen("libcuda.so.1", RTLD_NOW);
    }
    if (library == nullptr) {
        return;
    }
    using Query = CUresult (*)(int*);
    const auto query = reinterpret_cast<Query>(dlsym(library, "cuDriverGetVersion"));
    int version = 0;
    if (!report.driverVersion && query != nullptr && query(&version) == CUDA_SUCCESS) {
        report.driverVersion = version;
    }
    Dl_info info{};
    char* file = query != nullptr && dladdr(reinterpret_cast<void*>(query), &info) != 0
                     ? realpath(info.dli_fname, nullptr)
                     : nullptr;
    if (file != nullptr) {
        const std::string path = file;
        std::free(file);
        const std::string name = path.substr(path.rfind('/') + 1);
        constexpr char prefix[] = "libcuda.so.";
        // A release has three or more numbers; libcuda.so.1 names only the library's ABI.
        if (name.compare(0, sizeof(prefix) - 1, prefix) == 0 && std::count(name.begin(), name.end(), '.') >= 3) {
            report.driverRelease = name.substr(sizeof(prefix) - 1);
        }
    }
    dlclose(library);
}

void gatherCuda(Report& report, LoaderMessages& loaderMessages)
{
    Cuda& cuda = Cuda::instance();
    if (!note(report.cuda, cuda.loadLib(0), loaderMessages)) {
        askLibcuda(report);
        return;
    }
    int version = 0;
    if (!cuda.driverGetVersion(&version).has_error()) {
        report.driverVersion = version;
    }
    askLibcuda(report);
    int count = 0;
    if (auto counted = cuda.deviceGetCount(&count); counted.has_error()) {
        report.devicesError = messageOf(counted);
        return;
    }
    for (int ordinal = 0; ordinal < count; ++ordinal) {
        CudaDevice device;
        device.ordinal = ordinal;
        CUdevice handle = 0;
        if (cuda.deviceGet(&handle, ordinal).has_error()) {
            continue;
        }
        char name[256] = {};
        if (!cuda.deviceGetName(name, sizeof(name) - 1, handle).has_error()) {
            device.name = name;
        }
        size_t bytes = 0;
        if (!cuda.deviceTotalMem(&bytes, handle).has_error()) {
            device.totalMemory = bytes;
        }
        // A failed query leaves the capability at 0.0.
        (void)cuda.deviceGetAttribute(&device.computeMajor, CU_DEVICE_ATTRIBUTE_COMPUTE_CAPABILITY_MAJOR, handle);
        (void)cuda.deviceGetAttribute(&device.computeMinor, CU_DEVICE_ATTRIBUTE_COMPUTE_CAPABILITY_MINOR, handle);
        report.devices.push_back(device);
    }
}

EncoderCodec describeCodec(NvEnc& nvenc, void* encoder, const GUID& codec, std::string& error)
{
    EncoderCodec described;
    described.name = codecName(codec);
    for (const GUID& profile : enumerate<GUID>(
             [&](unsigned int* n) { return nvenc.getEncodeProfileGUIDCount(encoder, codec, n); },
             [&](GUID* items, unsigned int n, unsigned int* filled) {
                 return nvenc.getEncodeProfileGUIDs(encoder, codec, items, n, filled);
             },
             error)) {
        described.profiles.push_back(profileName(profile));
    }
    for (NV_ENC_BUFFER_FORMAT format : enumerate<NV_ENC_BUFFER_FORMAT>(
             [&](unsigned int* n) { return nvenc.getInputFormatCount(encoder, codec, n); },
             [&](NV_ENC_BUFFER_FORMAT* items, unsigned int n, unsigned int* filled) {
                 return nvenc.getInputFormats(encoder, codec, items, n, filled);
             },
             error)) {
        described.inputFormats.push_back(bufferFormatName(format));
    }
    for (const GUID& preset : enumerate<GUID>(
             [&](unsigned int* n) { return nvenc.getEncodePresetCount(encoder, codec, n); },
             [&](GUID* items, unsigned int n, unsigned int* filled) {
                 return nvenc.getEncodePresetGUIDs(encoder, codec, items, n, filled);
             },
             error)) {
        described.presets.push_back(presetName(preset));
    }
    return described;
}

EncoderDevice describeEncoder(NvEnc& nvenc, int ordinal)
{
    Cuda& cuda = Cuda::instance();
    EncoderDevice device;
    device.ordinal = ordinal;
    CUdevice handle = 0;
    CUcontext context = nullptr;
    if (auto made = cuda.deviceGet(&handle, ordinal); made.has_error()) {
        device.error = messageOf(made);
        return device;
    }
    if (auto made = cuda.ctxCreate(&context, 0, handle); made.has_error()) {
        device.error = messageOf(made);
        return device;
    }
    NV_ENC_OPEN_ENCODE_SESSION_EX_PARAMS session;
    std::memset(&session, 0, sizeof(session));
    session.deviceType = NV_ENC_DEVICE_TYPE_CUDA;
    session.device = context;
    void* encoder = nullptr;
    if (auto opened = nvenc.openEncodeSessionEx(&session, &encoder); opened.has_error()) {
        device.error = messageOf(opened);
    } else {
        for (const GUID& codec : enumerate<GUID>(
                 [&](unsigned int* n) { return nvenc.getEncodeGUIDCount(encoder, n); },
                 [&](GUID* items, unsigned int n, unsigned int* filled) {
                     return nvenc.getEncodeGUIDs(encoder, items, n, filled);
                 },
                 device.error)) {
            device.codecs.push_back(describeCodec(nvenc, encoder, codec, device.error));
        }
        // Clean-up failures change nothing in the report.
        (void)nvenc.destroyEncoder(encoder);
    }
    (void)cuda.ctxDestroy(context);
    return device;
}

// The binding speaks API 8.1 only; the library itself tells which API it supports at most, as (major << 4) | minor.
std::optional<std::string> maxSupportedVersion()
{
    void* library = dlopen("libnvidia-encode.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        return std::nullopt;
    }
    using Query = NVENCSTATUS (*)(std::uint32_t*);
    const auto query = reinterpret_cast<Query>(dlsym(library, "NvEncodeAPIGetMaxSupportedVersion"));
    std::uint32_t version = 0;
    std::optional<std::string> text;
    if (query != nullptr && query(&version) == NV_ENC_SUCCESS) {
        text = std::to_string(version >> 4) + "." + std::to_string(version & 0xfu);
    }
    dlclose(library);
    return text;
}

void gatherNvenc(Report& report, LoaderMessages& loaderMessages)
{
    NvEnc& nvenc = NvEnc::instance();
    if (!note(report.nvenc, nvenc.loadLib(), loaderMessages)) {
        return;
    }
    report.nvencMaxApiVersion = maxSupportedVersion();
    if (!report.cuda.usable) {
        return;
    }
    for (const CudaDevice& device : report.devices) {
        report.encoders.push_back(describeEncoder(nvenc, device.ordinal));
    }
}

void gatherNvfbc(Report& report, LoaderMessages& loaderMessages)
{
    NvFBC& nvfbc = NvFBC::instance();
    unsigned long handle = 0;
    NVFBC_CREATE_HANDLE_PARAMS create;
    std::memset(&create, 0, sizeof(create));
    if (!note(report.nvfbc, nvfbc.createHandle(&handle, &create), loaderMessages)) {
        return;
    }
    NVFBC_GET_STATUS_PARAMS status;
    std::memset(&status, 0, sizeof(status));
    if (auto asked = nvfbc.getStatus(handle, &status); asked.has_error()) {
        report.nvfbc.usable = false;
        report.nvfbc.error = messageOf(asked);
    } else {
        report.capture = CaptureStatus{status.bIsCapturePossible == NVFBC_TRUE,
                                       status.bCurrentlyCapturing == NVFBC_TRUE,
                                       status.bCanCreateNow == NVFBC_TRUE,
                                       status.screenSize.w,
                                       status.screenSize.h,
                                       status.dwNvFBCVersion};
    }
    NVFBC_DESTROY_HANDLE_PARAMS destroy;
    std::memset(&destroy, 0, sizeof(destroy));
    (void)nvfbc.destroyHandle(handle, &destroy);
}

}  // namespace

const LibraryStatus* Report::library(const std::string& binding) const
{
    for (const LibraryStatus* status : {&cuda, &cuvid, &nvenc, &nvfbc}) {
        if (status->binding == binding) {
            return status;
        }
    }
    return nullptr;
}

Report gather(LoaderMessages& loaderMessages)
{
    Report report;
    gatherCuda(report, loaderMessages);
    note(report.cuvid, CuVid::instance().loadLib(), loaderMessages);
    gatherNvenc(report, loaderMessages);
    gatherNvfbc(report, loaderMessages);
    return report;
}

}  // namespace tav::probe
