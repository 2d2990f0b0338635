// CUDA errors made by a binding that was never loaded, as the decoder binding makes them.
#include "cuda_test_support.h"

#include "alloc_failure.h"
#include "log_capture.h"

#include <climits>
#include <optional>

namespace tav::test::cuda {
namespace {

using typed_code = system_error2::status_code<cuda_error_domain>;

typed_code makeCode(int status)
{
    return typed_code(system_error2::in_place, static_cast<CUresult>(status), nullptr, "src/cuda", 1,
                      boost::stacktrace::stacktrace(0, 0));
}

Result wrap(int status, int line = 42)
{
    return Cuda::instance().wrapResult(static_cast<CUresult>(status), "src/cuvid", line);
}

TEST(CudaErrorDomain, SuccessIsNotAnErrorAndWritesNothing)
{
    LogCapture capture;
    EXPECT_FALSE(wrap(CUDA_SUCCESS).has_error());
    EXPECT_TRUE(capture.records().empty());
}

TEST(CudaErrorDomain, StatusesWithoutTextPassThroughAsSignedDecimals)
{
    for (const int status : {700, -7, INT_MAX, INT_MIN, 999}) {
        SCOPED_TRACE(status);
        LogCapture capture;
        const Result result = wrap(status, 13);
        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(static_cast<int>(value->status), status);
        EXPECT_TRUE(value->errorString.empty());
        const std::string message = "CUDA failed: code " + std::to_string(status);
        EXPECT_EQ(text(result.error().message()), message);
        EXPECT_TRUE(startsWith(text(value->origin), "(src/cuvid:13)\n"));
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, spdlog::level::debug);
        EXPECT_EQ(records[0].text, creationRecord("cuda error domain", message, text(value->origin)));
        EXPECT_TRUE(result.error().equivalent(makeCode(status)));
    }
}

TEST(CudaErrorDomain, ErasedIntoAResultBehindTheIndirectingDomain)
{
    const Result result = wrap(-3);
    EXPECT_EQ(result.error().domain().id(), 0x8ed6badcbf75614aull);
    EXPECT_EQ(text(result.error().domain().name()), "cuda error domain");
    EXPECT_TRUE(result.error().failure());
    const typed_code typed = makeCode(5);
    EXPECT_EQ(typed.domain().id(), 0x4a99c1020db931a3ull);
    EXPECT_STREQ(cuda_error_domain::domainName, "cuda error domain");
    EXPECT_EQ(sizeof cuda_error_domain::domainName, 18u);
}

TEST(CudaErrorDomain, EquivalentByStatusAndToUnknownOnly)
{
    const Result first = wrap(9, 1);
    const Result second = wrap(9, 2);
    EXPECT_TRUE(first.error().equivalent(makeCode(9)));
    EXPECT_FALSE(first.error().equivalent(makeCode(10)));
    EXPECT_TRUE(makeCode(9).equivalent(makeCode(9)));
    EXPECT_FALSE(makeCode(9).equivalent(makeCode(-9)));
    // Two erased errors never compare equal: each has its own indirection.
    EXPECT_FALSE(first.error().equivalent(second.error()));

    EXPECT_TRUE(first.error().equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(first.error().equivalent(system_error2::generic_code(system_error2::errc::invalid_argument)));
    EXPECT_FALSE(first.error().equivalent(system_error2::generic_code(system_error2::errc::success)));
    EXPECT_TRUE(makeCode(0).equivalent(system_error2::generic_code(system_error2::errc::unknown)));

    const Result loader = tav::base::system_error2_detail::failure<dl_error_domain>(
        "libcuda.so", "dlopen", nullptr, "x", "src/cuda", 61, boost::stacktrace::stacktrace(0, 0));
    EXPECT_FALSE(makeCode(9).equivalent(loader.error()));
}

TEST(CudaErrorDomain, FailureIsANonZeroStatus)
{
    EXPECT_TRUE(makeCode(1).failure());
    EXPECT_TRUE(makeCode(-1).failure());
    EXPECT_FALSE(makeCode(0).failure());
}

TEST(CudaErrorDomain, ValueThrowsTheTypedStatusError)
{
    const Result result = wrap(-12);
    try {
        result.value();
        FAIL() << "value() of a failed result must throw";
    } catch (const system_error2::status_error<cuda_error_domain>& thrown) {
        EXPECT_STREQ(thrown.what(), "CUDA failed: code -12");
        EXPECT_EQ(static_cast<int>(thrown.code().value().status), -12);
    }
}

TEST(CudaErrorDomain, CopiesShareTheDriverText)
{
    auto* original = new typed_code(system_error2::in_place, static_cast<CUresult>(4), "driver text", "src/cuda", 1,
                                    boost::stacktrace::stacktrace(0, 0));
    const typed_code copy = *original;
    delete original;
    EXPECT_EQ(text(copy.message()), "CUDA failed: driver text");
    EXPECT_EQ(text(copy.value().origin), "(src/cuda:1)\n");
}

TEST(CudaErrorDomain, RunningOutOfMemoryKeepsTheStatusAndFallsBackToFixedTexts)
{
    std::optional<typed_code> code;
    {
        // The default logger drops debug records, so nothing but the value's own texts asks for memory.
        const AllocationFailure noMemory(0);
        code.emplace(system_error2::in_place, static_cast<CUresult>(8), "lost text", "src/cuda", 1,
                     boost::stacktrace::stacktrace(0, 0));
    }
    EXPECT_EQ(code->value().status, 8);
    EXPECT_EQ(text(code->value().errorString), "Failed to duplicate message, out of memory");
    EXPECT_EQ(text(code->message()), "CUDA failed: Failed to duplicate message, out of memory");
    {
        const AllocationFailure noMemory(0);
        const auto message = code->message();
        EXPECT_STREQ(message.c_str(), "Failed to create message, out of memory");
    }
}

TEST(CudaErrorDomain, NeverLoadedBindingHasNoText)
{
    EXPECT_EQ(Cuda::instance().getErrorString(static_cast<CUresult>(1)), nullptr);
    EXPECT_FALSE(Cuda::instance().unloadLib().has_error());
}

}  // namespace
}  // namespace tav::test::cuda
