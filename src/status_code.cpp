#include <tav/base/outcome/status_code>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace tav::base::system_error2_detail
