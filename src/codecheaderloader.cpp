#include "codecheaderloader.h"

#include <tav/base/logrecord>

#include <boost/stacktrace.hpp>
#include <fmt/format.h>

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

    if (text == nullptr) {
        const boost::stacktrace::stacktrace trace;
        // Should the record's own text not fit either, that std::bad_alloc is the one thrown.
        base::writeLogRecord(file, line, function, base::LogLevel::info,
                             fmt::format("Create exception {} ({}:{}):\n{}", "std::bad_alloc()", file, line,
                                         boost::stacktrace::to_string(trace)));
        throw std::bad_alloc();
    }
    const std::string_view message =
        length < 0 ? std::string_view(text.get()) : std::string_view(text.get(), static_cast<std::size_t>(length));
    base::writeLogRecord(file, line, function, base::LogLevel::error, message);
}

}  // namespace tav::nvidia::detail
