#include <tav/base/logrecord>

#include <spdlog/spdlog.h>

namespace tav::base {

namespace {

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
