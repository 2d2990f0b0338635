// With stand-in decoder libraries that lack a mandatory entry point, offered one after another, then the complete
// one.
#include <tav/nvidia/cuvid>

#include "control.h"
#include "library_slot.h"
#include "load_failure.h"
#include "log_capture.h"
#include "operations.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::CuVid;
using tav::test::LogCapture;
namespace cuvid = tav::test::cuvid;

TEST(CuVidMissingEntryPoint, FailsNamingItUntilACompleteLibraryIsOffered)
{
    CuVid& binding = CuVid::instance();
    const cuvid::Operation& operation = cuvid::operations().front();
    // A video-source entry point, which no operation uses, and one that an operation calls.
    for (const std::string entryPoint : {"cuvidCreateVideoSourceW", "cuvidCreateDecoder"}) {
        SCOPED_TRACE(entryPoint);
        cuvid::offerLibrary("without-" + entryPoint);
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int loads = cuvid::loads();
            LogCapture capture;
            cuvid::expectLoadError(attempt == 0 ? binding.loadLib() : operation.invoke(binding));
            cuvid::expectFailedLoadRecords(capture.records(), entryPoint);
            // Each call opened the library and the failed load closed it again.
            EXPECT_EQ(cuvid::loads(), loads + 1);
            EXPECT_EQ(cuvid::unloads(), cuvid::loads());
        }
    }
    EXPECT_TRUE(cuvid::calls().empty());

    cuvid::offerLibrary("complete");
    LogCapture capture;
    EXPECT_TRUE(operation.invoke(binding).has_value());
    EXPECT_TRUE(capture.records().empty());
    EXPECT_EQ(cuvid::calls(), (std::vector<cuvid::Call>{{operation.entryPoint, operation.arguments}}));
    EXPECT_EQ(cuvid::unloads(), cuvid::loads() - 1);
}

}  // namespace
