#include "codecheaderloader.h"

#include <boost/stacktrace.hpp>
#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>

namespace tav::nvidia::detail {

void codecHeaderLoaderFailure(const char* file, int line, const char* function, const char* format, ...)
{
    char* formatted = nullptr;
    va_list args;
    va_start(args, format);
    const int length = vasprintf(&formatted, format, args);
    va_end(args);
    const std::unique_ptr<char, decltype(&free)> text(formatted, &free);

    spdlog::logger* logger = spdlog::default_logger_raw();
    const spdlog::source_loc location{file, line, function};
    if (text == nullptr) {
        const boost::stacktrace::stacktrace trace;
        if (logger != nullptr) {
            logger->log(location, spdlog::level::info, "Create exception {} ({}:{}):\n{}", "std::bad_alloc()", file,
                        line, boost::stacktrace::to_string(trace));
        }
        throw std::bad_alloc();
    }
    if (logger != nullptr) {
        const std::string_view message =
            length < 0 ? std::string_view(text.get()) : std::string_view(text.get(), static_cast<std::size_t>(length));
        logger->log(location, spdlog::level::err, "{}", message);
    }
}

}  // namespace tav::nvidia::detail
