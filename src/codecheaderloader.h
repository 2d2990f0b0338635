// nv-codec-headers' run-time loader, with its failure messages bridged to the default logger.
// Include this instead of <ffnvcodec/dynlink_loader.h>, so that every inclusion sees the same hooks.
#pragma once

namespace tav::nvidia::detail {

// The loader's failure hook: writes the formatted message as an error record located where the loader reported
// it. When the text cannot be allocated it writes an info record and throws std::bad_alloc.
void codecHeaderLoaderFailure(const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace tav::nvidia::detail

#define FFNV_LOG_FUNC(logctx, msg, ...) \
    ::tav::nvidia::detail::codecHeaderLoaderFailure(__FILE__, __LINE__, __func__, (msg), __VA_ARGS__)
// Progress messages (library opened, entry point resolved, optional entry point missing) stay silent.
#define FFNV_DEBUG_LOG_FUNC(logctx, msg, ...)

#include <ffnvcodec/dynlink_loader.h>
