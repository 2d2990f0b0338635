// A host that calls the bindings late at exit, from one of two places:
//   after-bindings      the destructor of a host global that was constructed before the bindings (before main), and
//                       so runs after them, while spdlog's registry still exists;
//   in-logger-teardown  the destructor of the default logger's sink, which runs as spdlog's registry is destroyed at
//                       exit, after the bindings (or, with "shutdown", inside spdlog::shutdown()).
// Neither touches spdlog before main. Each late call loads its library afresh: it succeeds where the driver
// libraries can be found ("present") and fails otherwise ("absent"). Records of the failures reach the default
// logger while it is alive ("logger": main installs a counting one) and are dropped while it is being torn down or
// after spdlog::shutdown() ("shutdown"). Exits with status 0 when every late call answered as expected; a sanitizer
// report (a use of freed memory, say) makes the status non-zero.
//   tav_exit_late_caller after-bindings|in-logger-teardown present|absent logger|shutdown
#include <tav/nvidia/cuda>
#include <tav/nvidia/cuvid>
#include <tav/nvidia/nvenc>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

using tav::nvidia::Cuda;
using tav::nvidia::CuVid;
using tav::nvidia::NvEnc;
using tav::nvidia::Result;

// Read after the logger and its sinks are gone, so it is plain static storage.
std::atomic<int> recordsWritten{0};

// The arguments, kept where the late calls can read them.
const char* when = "";
bool driversPresent = false;
bool loggerKept = false;

void callEveryBindingLate();

class CountingSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    CountingSink() = default;
    CountingSink(const CountingSink&) = delete;
    CountingSink& operator=(const CountingSink&) = delete;
    ~CountingSink() override
    {
        if (std::strcmp(when, "in-logger-teardown") == 0) {
            callEveryBindingLate();
        }
    }

protected:
    void sink_it_(const spdlog::details::log_msg&) override { ++recordsWritten; }
    void flush_() override {}
};

bool expect(const Result& result, const char* step, const char* failureMessage)
{
    const std::string got = result.has_error() ? result.error().message().c_str() : "success";
    const std::string wanted = driversPresent ? "success" : failureMessage;
    if (got == wanted) {
        return true;
    }
    std::fprintf(stderr, "%s %s: got '%s', wanted '%s'\n", when, step, got.c_str(), wanted.c_str());
    return false;
}

void callEveryBindingLate()
{
    const int recordsBefore = recordsWritten;
    int count = 0;
    const bool cuda = expect(Cuda::instance().deviceGetCount(&count), "deviceGetCount",
                             "dlopen() failed: libcuda.so: cannot open shared object file: No such file or directory");
    const bool decoder = expect(CuVid::instance().destroyDecoder(nullptr), "destroyDecoder", "Failed to open cuvid");
    const bool encoder = expect(NvEnc::instance().destroyEncoder(nullptr), "destroyEncoder", "Failed to open nvenc");
    // Three errors and two loader messages, while a logger is there to take them; none once it is gone.
    const bool loggerAlive = loggerKept && std::strcmp(when, "after-bindings") == 0;
    const int wantedRecords = !driversPresent && loggerAlive ? 5 : 0;
    const bool recorded = recordsWritten - recordsBefore == wantedRecords;
    if (!recorded) {
        std::fprintf(stderr, "%s: %d records written, wanted %d\n", when, recordsWritten - recordsBefore,
                     wantedRecords);
    }
    if (!cuda || !decoder || !encoder || !recorded) {
        std::_Exit(EXIT_FAILURE);
    }
}

struct LateCaller {
    ~LateCaller()
    {
        if (std::strcmp(when, "after-bindings") == 0) {
            callEveryBindingLate();
        }
    }
};

LateCaller lateCaller;

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s after-bindings|in-logger-teardown present|absent logger|shutdown\n",
                     argv[0]);
        return 2;
    }
    when = argv[1];
    driversPresent = std::strcmp(argv[2], "present") == 0;
    loggerKept = std::strcmp(argv[3], "logger") == 0;

    auto logger = std::make_shared<spdlog::logger>("late", std::make_shared<CountingSink>());
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
    // Made here, after the late caller, so that they are destroyed before it.
    int count = 0;
    static_cast<void>(Cuda::instance().deviceGetCount(&count));
    static_cast<void>(CuVid::instance().loadLib());
    static_cast<void>(NvEnc::instance().loadLib());
    if (!loggerKept) {
        spdlog::shutdown();
    }
    return EXIT_SUCCESS;
}
