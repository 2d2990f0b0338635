// A program that uses every binding and leaves in the way its argument names. It exits with status 0 when all
// went well; a sanitizer report at exit makes the status non-zero.
#include "failing_dlclose.h"
#include "use_every_binding.h"

#include <tav/nvidia/cuda>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using tav::test::exit::failEveryDlclose;
using tav::test::exit::useEveryBinding;

int status(bool ok) { return ok ? EXIT_SUCCESS : EXIT_FAILURE; }

// The CUDA binding comes into being before anything touches spdlog, and the default logger is replaced after
// that; at exit, the binding's unload fails and writes the error's record.
int failingCloseAfterLateLogger()
{
    const bool cudaLoaded = !tav::nvidia::Cuda::instance().loadLib(0).has_error();
    auto logger = std::make_shared<spdlog::logger>("late", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
    const bool ok = useEveryBinding() && cudaLoaded;
    failEveryDlclose();
    return status(ok);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* const mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "return") == 0) {
        return status(useEveryBinding());
    }
    if (std::strcmp(mode, "spdlog-shutdown") == 0) {
        const bool ok = useEveryBinding();
        spdlog::shutdown();
        failEveryDlclose();
        return status(ok);
    }
    if (std::strcmp(mode, "no-default-logger") == 0) {
        const bool ok = useEveryBinding();
        spdlog::set_default_logger(nullptr);
        failEveryDlclose();
        return status(ok);
    }
    if (std::strcmp(mode, "exit-from-thread") == 0) {
        std::thread([] { std::exit(status(useEveryBinding())); }).join();
        return EXIT_FAILURE;
    }
    if (std::strcmp(mode, "failing-close-after-late-logger") == 0) {
        return failingCloseAfterLateLogger();
    }
    std::fprintf(stderr, "unknown mode '%s'\n", mode);
    return 2;
}
