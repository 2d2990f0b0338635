#include <tav/nvidia/cuvid>

#include "codecheaderloader.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/nvcodecheadererrordomain>

#include <tav/base/logrecord>

#include <boost/stacktrace.hpp>

#include <new>

namespace tav::nvidia {

namespace {

// Errors name this file by this text, whatever the file is called on disk.
constexpr char sourceFile[] = "src/cuvid";

constexpr int loadLine = 26;

// What was missing has gone to the log through the loader's failure hook; the error names the component.
Result loadFailure() noexcept
{
    return base::system_error2_detail::failure<detail::nvcodecheader_error_domain>(
        "cuvid", sourceFile, loadLine, boost::stacktrace::stacktrace());
}

}  // namespace

CuVid& CuVid::instance() noexcept
{
    static CuVid cuvid;
    return cuvid;
}

CuVid::~CuVid()
{
    // The entries are cleared and the table unpublished before it is freed: a host's destructor that runs after
    // this one and calls an operation then loads afresh instead of calling into the closed library.
    functions_.release([this](CuvidFunctions* functions) noexcept {
#define TAV_NVIDIA_CUVID_CLEAR(operation, entry, line, parameters, arguments) \
    entries_.entry.store(nullptr, std::memory_order_relaxed);
        TAV_NVIDIA_CUVID_OPERATIONS(TAV_NVIDIA_CUVID_CLEAR)
#undef TAV_NVIDIA_CUVID_CLEAR
        cuvid_free_functions(&functions);
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    });
}

Result CuVid::loadLib()
{
    return functions_.ensure([this](CuvidFunctions*& functions) -> Result {
        // The loader publishes its table before filling it, so it fills one of its own here, which is published
        // only once complete.
        int status = 0;
        try {
            status = cuvid_load_functions(&functions, nullptr);
        } catch (...) {
            // An exception out of the failure hook skips the loader's own cleanup and leaves a half-built table
            // behind, possibly with the library open. Releasing it makes the next call load afresh.
            cuvid_free_functions(&functions);
            throw;
        }
        if (status != 0) {
            return loadFailure();
        }
        // Published for the operations before the table itself is, so that a binding seen loaded has its entries.
#define TAV_NVIDIA_CUVID_PUBLISH(operation, entry, line, parameters, arguments) \
    entries_.entry.store(functions->entry, std::memory_order_release);
        TAV_NVIDIA_CUVID_OPERATIONS(TAV_NVIDIA_CUVID_PUBLISH)
#undef TAV_NVIDIA_CUVID_PUBLISH
        return BOOST_OUTCOME_V2_NAMESPACE::success();
    }, []() noexcept {
        // Reported like a load that the loader could not do, with the reason where the loader's would be.
        base::writeLogRecord(sourceFile, loadLine, "loadLib", base::LogLevel::error, detail::loadUnderWayText);
        return loadFailure();
    });
}

Result CuVid::loadForOperation() noexcept
{
    try {
        return loadLib();
    } catch (const std::bad_alloc&) {
        return loadFailure();
    }
}

Result CuVid::wrapStatus(CUresult status, int line) const noexcept
{
    // Only the status conversion is borrowed from the CUDA binding; the CUDA driver is not loaded for it.
    return Cuda::instance().wrapResult(status, sourceFile, line);
}

}  // namespace tav::nvidia
