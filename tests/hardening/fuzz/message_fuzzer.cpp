// Builds an error of every domain from fuzzer bytes (status, line, file and the driver's texts) and checks that
// its message is the domain's format with the texts in it verbatim.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbcerrordomain>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace tav::nvidia::detail;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return {ref.data(), ref.size()}; }

void require(bool holds, const char* what, const std::string& message)
{
    if (!holds) {
        std::fprintf(stderr, "%s: %s\n", what, message.c_str());
        std::abort();
    }
}

// Splits the input: four bytes of status, four of line, then zero-separated texts (file, driver text, symbol).
struct Input {
    std::uint32_t status = 0;
    int line = 0;
    std::string file;
    std::string driverText;
    std::string symbol;

    Input(const std::uint8_t* data, std::size_t size)
    {
        const auto word = [&](std::size_t at) {
            std::uint32_t value = 0;
            std::memcpy(&value, data + at, size >= at + 4 ? 4 : 0);
            return value;
        };
        status = word(0);
        line = static_cast<int>(word(4));
        std::string* fields[] = {&file, &driverText, &symbol};
        std::size_t field = 0;
        for (std::size_t i = 8; i < size && field < 3; ++i) {
            if (data[i] == 0) {
                ++field;
            } else {
                fields[field]->push_back(static_cast<char>(data[i]));
            }
        }
    }
};

// The debug record is built and formatted, into a sink that drops it.
const bool logging = [] {
    auto logger = std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_st>());
    logger->set_level(spdlog::level::debug);
    spdlog::set_default_logger(logger);
    return true;
}();

template <class Domain, class... Args>
std::string messageOf(const std::string& origin, Args&&... args)
{
    const system_error2::status_code<Domain> code(system_error2::in_place, std::forward<Args>(args)...);
    require(text(code.value().origin) == origin, "origin", text(code.value().origin));
    return text(code.message());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input in(data, size);
    const boost::stacktrace::stacktrace noFrames(0, 0);
    const char* file = in.file.c_str();
    const std::string origin = "(" + in.file + ":" + std::to_string(in.line) + ")\n";
    const char* driverText = in.driverText.empty() ? nullptr : in.driverText.c_str();

    const std::string dl = messageOf<dl_error_domain>(origin, "libcuda.so", "dlsym", in.symbol.c_str(), driverText,
                                                      file, in.line, noFrames);
    require(dl == "dlsym(" + in.symbol + ") failed: " + in.driverText, "dl", dl);

    const auto cudaStatus = static_cast<CUresult>(static_cast<int>(in.status));
    const std::string cuda = messageOf<cuda_error_domain>(origin, cudaStatus, driverText, file, in.line, noFrames);
    require(cuda == (in.driverText.empty() ? "CUDA failed: code " + std::to_string(static_cast<int>(in.status))
                                           : "CUDA failed: " + in.driverText),
            "cuda", cuda);

    const std::string loader =
        messageOf<nvcodecheader_error_domain>(origin, in.symbol.c_str(), file, in.line, noFrames);
    require(loader == "Failed to open " + in.symbol, "nvcodecheader", loader);

    const auto nvencStatus = static_cast<NVENCSTATUS>(in.status);
    const std::string nvenc = messageOf<nvenc_error_domain>(origin, nvencStatus, file, in.line, noFrames);
    require(nvenc == std::string("NvEnc failed: ") + nvenc_error_domain::getStatusMessage(nvencStatus), "nvenc",
            nvenc);

    const auto nvfbcStatus = static_cast<NVFBCSTATUS>(in.status);
    const std::string nvfbc =
        messageOf<nvfbc_error_domain>(origin, nvfbcStatus, driverText, file, in.line, noFrames);
    require(nvfbc == std::string("NvFBC failed: ") + nvfbc_error_domain::getStatusMessage(nvfbcStatus) + " - " +
                         in.driverText,
            "nvfbc", nvfbc);
    return 0;
}
