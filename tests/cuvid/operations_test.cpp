// With the complete stand-in decoder library and the CUDA binding never loaded.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/cuvid>

#include "control.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::CuVid;
using tav::nvidia::Result;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

TEST(CuVidOperations, PassTheArgumentsUnchangedAndConvertTheStatus)
{
    CuVid& binding = CuVid::instance();
    int status = 900;
    for (const cuvid::Operation& operation : cuvid::operations()) {
        SCOPED_TRACE(operation.name);
        const cuvid::Call call{operation.entryPoint, operation.arguments};
        ++status;
        cuvid::reset();
        LogCapture capture;

        EXPECT_TRUE(operation.invoke(binding).has_value());
        EXPECT_TRUE(capture.records().empty());
        EXPECT_EQ(cuvid::calls(), std::vector<cuvid::Call>{call});

        cuvid::setStatus(status);
        const Result failed = operation.invoke(binding);
        EXPECT_EQ(cuvid::calls(), (std::vector<cuvid::Call>{call, call}));
        ASSERT_TRUE(failed.has_error());
        EXPECT_EQ(text(failed.error().domain().name()), "cuda error domain");
        EXPECT_EQ(text(failed.error().message()), "CUDA failed: code " + std::to_string(status));
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, spdlog::level::debug);
        const std::string expected = "Create error in 'cuda error domain': CUDA failed: code " +
                                     std::to_string(status) + " [] (src/cuvid:" + std::to_string(operation.line) +
                                     ")\n";
        EXPECT_EQ(records[0].text.rfind(expected, 0), 0u) << records[0].text;

        const system_error2::status_code<tav::nvidia::detail::cuda_error_domain> sameStatus(
            system_error2::in_place, static_cast<CUresult>(status), nullptr, "elsewhere", 1,
            boost::stacktrace::stacktrace(0, 0));
        EXPECT_TRUE(failed.error().equivalent(sameStatus));
    }
}

TEST(CuVidOperations, LoadLibOnALoadedBindingLeavesTheLibraryAlone)
{
    CuVid& binding = CuVid::instance();
    ASSERT_TRUE(binding.loadLib().has_value());
    for (int call = 0; call < 3; ++call) {
        EXPECT_TRUE(binding.loadLib().has_value());
    }
    // Calling the loader again would have closed the library and opened it anew.
    EXPECT_EQ(cuvid::loads(), 1);
    EXPECT_EQ(cuvid::unloads(), 0);
    EXPECT_EQ(&CuVid::instance(), &binding);
}

}  // namespace
