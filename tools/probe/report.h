// What the probe found out about the driver libraries of this machine.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tav::probe {

struct LibraryStatus {
    std::string binding;  // "cuda", "cuvid", "nvenc", "nvfbc"
    std::string file;     // the driver library the binding opens
    bool usable = false;
    std::string error;    // the library's own error message when not usable
};

struct CudaDevice {
    int ordinal = 0;
    std::string name;
    unsigned long long totalMemory = 0;
    int computeMajor = 0;
    int computeMinor = 0;
};

struct EncoderCodec {
    std::string name;
    std::vector<std::string> profiles;
    std::vector<std::string> inputFormats;
    std::vector<std::string> presets;
};

struct EncoderDevice {
    int ordinal = 0;
    std::string error;  // set when the device could not be asked
    std::vector<EncoderCodec> codecs;
};

struct CaptureStatus {
    bool capturePossible = false;
    bool currentlyCapturing = false;
    bool canCreateNow = false;
    unsigned screenWidth = 0;
    unsigned screenHeight = 0;
    unsigned version = 0;
};

struct Report {
    LibraryStatus cuda{"cuda", "libcuda.so", false, ""};
    // cuDriverGetVersion's answer, which the library gives also where cuInit fails.
    std::optional<int> driverVersion;
    // The release that the file name of NVIDIA's libcuda carries (libcuda.so.535.261.03).
    std::optional<std::string> driverRelease;
    std::vector<CudaDevice> devices;
    std::string devicesError;

    LibraryStatus cuvid{"cuvid", "libnvcuvid.so.1", false, ""};

    LibraryStatus nvenc{"nvenc", "libnvidia-encode.so.1", false, ""};
    // NvEncodeAPIGetMaxSupportedVersion's answer, "major.minor".
    std::optional<std::string> nvencMaxApiVersion;
    std::vector<EncoderDevice> encoders;

    LibraryStatus nvfbc{"nvfbc", "libnvidia-fbc.so.1", false, ""};
    std::optional<CaptureStatus> capture;

    const LibraryStatus* library(const std::string& binding) const;
};

class LoaderMessages;

// Asks every binding; never throws for a missing or failing driver. What the loader reports at error level while a
// library loads is added to that library's error.
Report gather(LoaderMessages& loaderMessages);

std::string renderText(const Report& report);
std::string renderJson(const Report& report);

}  // namespace tav::probe
