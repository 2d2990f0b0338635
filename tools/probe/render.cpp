#include "report.h"

#include <cstdio>
#include <sstream>

namespace tav::probe {

namespace {

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string list(const std::vector<std::string>& items, bool json)
{
    std::string out = json ? "[" : "";
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ", ") + (json ? quoted(items[i]) : items[i]);
    }
    return out + (json ? "]" : "");
}

std::string versionText(int version)
{
    return std::to_string(version / 1000) + "." + std::to_string(version % 1000 / 10);
}

void textLibrary(std::ostringstream& out, const LibraryStatus& library)
{
    out << library.binding << " (" << library.file << "): ";
    if (library.usable) {
        out << "loads\n";
    } else {
        out << "not usable: " << library.error << "\n";
    }
}

void jsonLibrary(std::ostringstream& out, const LibraryStatus& library)
{
    out << "\"file\": " << quoted(library.file) << ", \"usable\": " << (library.usable ? "true" : "false");
    if (!library.usable) {
        out << ", \"error\": " << quoted(library.error);
    }
}

}  // namespace

std::string renderText(const Report& report)
{
    std::ostringstream out;
    textLibrary(out, report.cuda);
    if (report.driverVersion) {
        out << "  driver version " << versionText(*report.driverVersion) << "\n";
    }
    if (report.driverRelease) {
        out << "  driver release " << *report.driverRelease << "\n";
    }
    if (!report.devicesError.empty()) {
        out << "  devices: " << report.devicesError << "\n";
    }
    for (const CudaDevice& device : report.devices) {
        out << "  device " << device.ordinal << ": " << device.name << ", " << device.totalMemory / (1024 * 1024)
            << " MiB, compute capability " << device.computeMajor << "." << device.computeMinor << "\n";
    }
    textLibrary(out, report.cuvid);
    textLibrary(out, report.nvenc);
    if (report.nvencMaxApiVersion) {
        out << "  highest supported API version " << *report.nvencMaxApiVersion << "\n";
    }
    for (const EncoderDevice& encoder : report.encoders) {
        out << "  device " << encoder.ordinal << ":";
        out << (encoder.error.empty() ? "\n" : " " + encoder.error + "\n");
        for (const EncoderCodec& codec : encoder.codecs) {
            out << "    " << codec.name << "\n"
                << "      profiles: " << list(codec.profiles, false) << "\n"
                << "      input formats: " << list(codec.inputFormats, false) << "\n"
                << "      presets: " << list(codec.presets, false) << "\n";
        }
    }
    textLibrary(out, report.nvfbc);
    if (report.capture) {
        const CaptureStatus& capture = *report.capture;
        out << "  capture possible: " << (capture.capturePossible ? "yes" : "no")
            << ", capturing: " << (capture.currentlyCapturing ? "yes" : "no")
            << ", can create now: " << (capture.canCreateNow ? "yes" : "no") << ", screen " << capture.screenWidth
            << "x" << capture.screenHeight << "\n";
    }
    return out.str();
}

std::string renderJson(const Report& report)
{
    std::ostringstream out;
    out << "{\n  \"cuda\": {";
    jsonLibrary(out, report.cuda);
    if (report.driverVersion) {
        out << ", \"driverVersion\": " << *report.driverVersion;
    }
    if (report.driverRelease) {
        out << ", \"driverRelease\": " << quoted(*report.driverRelease);
    }
    if (!report.devicesError.empty()) {
        out << ", \"devicesError\": " << quoted(report.devicesError);
    }
    out << ", \"devices\": [";
    for (std::size_t i = 0; i < report.devices.size(); ++i) {
        const CudaDevice& device = report.devices[i];
        out << (i == 0 ? "" : ", ") << "{\"ordinal\": " << device.ordinal << ", \"name\": " << quoted(device.name)
            << ", \"totalMemory\": " << device.totalMemory << ", \"computeCapability\": \"" << device.computeMajor
            << "." << device.computeMinor << "\"}";
    }
    out << "]},\n  \"cuvid\": {";
    jsonLibrary(out, report.cuvid);
    out << "},\n  \"nvenc\": {";
    jsonLibrary(out, report.nvenc);
    if (report.nvencMaxApiVersion) {
        out << ", \"maxApiVersion\": " << quoted(*report.nvencMaxApiVersion);
    }
    out << ", \"devices\": [";
    for (std::size_t i = 0; i < report.encoders.size(); ++i) {
        const EncoderDevice& encoder = report.encoders[i];
        out << (i == 0 ? "" : ", ") << "{\"ordinal\": " << encoder.ordinal;
        if (!encoder.error.empty()) {
            out << ", \"error\": " << quoted(encoder.error);
        }
        out << ", \"codecs\": [";
        for (std::size_t j = 0; j < encoder.codecs.size(); ++j) {
            const EncoderCodec& codec = encoder.codecs[j];
            out << (j == 0 ? "" : ", ") << "{\"name\": " << quoted(codec.name)
                << ", \"profiles\": " << list(codec.profiles, true)
                << ", \"inputFormats\": " << list(codec.inputFormats, true)
                << ", \"presets\": " << list(codec.presets, true) << "}";
        }
        out << "]}";
    }
    out << "]},\n  \"nvfbc\": {";
    jsonLibrary(out, report.nvfbc);
    if (report.capture) {
        const CaptureStatus& capture = *report.capture;
        out << ", \"capturePossible\": " << (capture.capturePossible ? "true" : "false")
            << ", \"currentlyCapturing\": " << (capture.currentlyCapturing ? "true" : "false")
            << ", \"canCreateNow\": " << (capture.canCreateNow ? "true" : "false")
            << ", \"screen\": {\"width\": " << capture.screenWidth << ", \"height\": " << capture.screenHeight << "}"
            << ", \"version\": " << capture.version;
    }
    out << "}\n}\n";
    return out.str();
}

}  // namespace tav::probe
