#include <tav/base/outcome/status_code>

#include <tav/base/logrecord>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace tav::base::system_error2_detail {

namespace {
constexpr const char duplicateFailedText[] = "Failed to duplicate message, out of memory";
constexpr const char createFailedText[] = "Failed to create message, out of memory";
}  // namespace

string_ref duplicateMessage(const char* text) noexcept
{
    if (text == nullptr) {
        return string_ref("", 0);
    }
    char* copy = strdup(text);
    if (copy == nullptr) {
        return string_ref(duplicateFailedText);
    }
    return system_error2::status_code_domain::atomic_refcounted_string_ref(copy);
}

string_ref createMessage(const char* format, ...) noexcept
{
    char* text = nullptr;
    va_list args;
    va_start(args, format);
    const int length = vasprintf(&text, format, args);
    va_end(args);
    if (text == nullptr) {
        return string_ref(createFailedText);
    }
    return system_error2::status_code_domain::atomic_refcounted_string_ref(
        text, length < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(length));
}

string_ref createOrigin(const char* file, int line, const boost::stacktrace::stacktrace& trace) noexcept
{
    // Rendering without memory ends the process here, inside noexcept, as it always has.
    const std::string traceText = trace.empty() ? std::string() : boost::stacktrace::to_string(trace);
    return createMessage("(%s:%d)\n%s", file != nullptr ? file : "<no-source-file>", line, traceText.c_str());
}

void writeErrorRecord(const char* file, int line, const char* function, const char* domainName,
                      const string_ref& message, const string_ref& origin) noexcept
{
    const string_ref record =
        createMessage("Create error in '%s': %s [%s] %s", domainName, message.c_str(), "", origin.c_str());
    writeLogRecord(file, line, function, LogLevel::debug, std::string_view(record.data(), record.size()));
}

}  // namespace tav::base::system_error2_detail
