#include <tav/base/logrecord>

#include <spdlog/spdlog.h>

#include <atomic>

namespace tav::base {

namespace {

// spdlog's registry, which owns the default logger, is a static of libspdlog: it comes into being on first use and
// is destroyed at exit in the reverse order of construction, and reading the default logger after that reads freed
// memory. Bindings and host objects may make errors at any time during exit, so this object, constructed as the
// library is loaded, first makes the registry exist: the registry then outlives it, and every binding and host
// object constructed after the library was loaded is destroyed before it. Once it is gone, records are dropped.
class RegistryLifetime {
public:
    RegistryLifetime() noexcept
    {
        try {
            static_cast<void>(spdlog::default_logger_raw());
            alive_.store(true, std::memory_order_release);
        } catch (...) {
            // Without a registry there is no logger to write to.
        }
    }
    RegistryLifetime(const RegistryLifetime&) = delete;
    RegistryLifetime& operator=(const RegistryLifetime&) = delete;
    ~RegistryLifetime() { alive_.store(false, std::memory_order_release); }

    static bool alive() noexcept { return alive_.load(std::memory_order_acquire); }

private:
    // Constant-initialised, so that it reads false before this object is constructed and after it is destroyed.
    static inline std::atomic<bool> alive_{false};
};

const RegistryLifetime registryLifetime;

spdlog::level::level_enum toSpdlog(LogLevel level) noexcept
{
    switch (level) {
        case LogLevel::debug:
            return spdlog::level::debug;
        case LogLevel::info:
            return spdlog::level::info;
        case LogLevel::warn:
            return spdlog::level::warn;
        case LogLevel::error:
            break;
    }
    return spdlog::level::err;
}

}  // namespace

void writeLogRecord(const char* file, int line, const char* function, LogLevel level, std::string_view text) noexcept
{
    if (!RegistryLifetime::alive()) {
        return;
    }
    try {
        if (spdlog::logger* logger = spdlog::default_logger_raw()) {
            logger->log(spdlog::source_loc{file, line, function}, toSpdlog(level), "{}", text);
        }
    } catch (...) {
        // spdlog hands std::exceptions to its error handler but rethrows anything else, and a host's sink may
        // throw anything: callers that must not throw lose the record instead.
    }
}

void writeUnexpectedValueRecord(const char* file, int line, const char* function, const char* signature,
                                unsigned int value) noexcept
{
    try {
        writeLogRecord(file, line, function, LogLevel::warn,
                       fmt::format("Switch unexpected value {0} in function ({1}:{2} {3})", value, file, line,
                                   signature));
    } catch (...) {
        // Only running out of memory gets here; the warning is lost with the text.
    }
}

}  // namespace tav::base
