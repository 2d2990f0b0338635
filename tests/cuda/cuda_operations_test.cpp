// Every operation against the complete stand-in: its own entry point, the caller's arguments, its own line.
#include "operation_table.h"

#include "log_capture.h"

#include <cstring>
#include <set>
#include <string>

namespace tav::test::cuda {
namespace {

using CudaOperations = CudaFixture;

TEST_F(CudaOperations, ForwardTheirArgumentsAndWrapTheStatusWithTheirLine)
{
    OutParameters out{};
    const std::vector<Operation> table = operations(out);
    ASSERT_EQ(table.size(), 29u);
    std::set<Entry> reached;
    int status = 700;
    for (const Operation& op : table) {
        SCOPED_TRACE(op.name);
        reached.insert(op.entry);
        reset();
        ASSERT_FALSE(op.call(cuda()).has_error());
        std::vector<Call> recorded = calls();
        ASSERT_FALSE(recorded.empty());
        // The first operation also performs the load.
        if (recorded.front().entry == Entry::cuInit) {
            recorded.erase(recorded.begin());
        }
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0].entry, op.entry);
        EXPECT_EQ(recorded[0].arguments, op.arguments);

        reset();
        setStatus(op.entry, ++status);
        setErrorText(TextMode::text, op.name);
        LogCapture capture;
        const Result result = op.call(cuda());
        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->status, status);
        EXPECT_EQ(text(result.error().message()), std::string("CUDA failed: ") + op.name);
        EXPECT_TRUE(startsWith(text(value->origin), originPrefix(op.line))) << text(value->origin);
        EXPECT_EQ(calls(op.entry).size(), 1u);
        const auto textCalls = calls(Entry::cuGetErrorString);
        ASSERT_EQ(textCalls.size(), 1u);
        EXPECT_EQ(textCalls[0].arguments.at(0), static_cast<std::uint64_t>(status));
        EXPECT_EQ(capture.records().size(), 1u);
        // An error of an operation leaves the driver loaded.
        EXPECT_TRUE(calls(Entry::cuInit).empty());
    }
    EXPECT_EQ(reached.size(), 29u);
    EXPECT_EQ(calls(Entry::cuInit).size(), 0u);
}

TEST_F(CudaOperations, DriverVersionReachesTheCaller)
{
    int version = 0;
    ASSERT_FALSE(cuda().driverGetVersion(&version).has_error());
    EXPECT_EQ(version, 12040);
}

TEST_F(CudaOperations, DriverVersionOfAnEmptiedTableIs1000WithoutCallingTheDriver)
{
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    cuda().setFuncsToNullptr();
    reset();
    LogCapture capture;
    int version = 0;

    EXPECT_FALSE(cuda().driverGetVersion(&version).has_error());

    EXPECT_EQ(version, 1000);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(capture.records().empty());
}

TEST_F(CudaOperations, EmptiedTableGivesEachOtherOperationAnErrorAtItsLine)
{
    OutParameters out{};
    std::vector<Operation> table = operations(out);
    table.erase(table.begin());
    ASSERT_EQ(table.size(), 28u);
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    cuda().setFuncsToNullptr();
    reset();
    const std::string message = "CUDA failed: the binding's entry points were cleared; call unloadLib so that the "
                                "next operation loads the driver again";
    for (const Operation& op : table) {
        SCOPED_TRACE(op.name);
        OutParameters before;
        std::memset(&before, 0x5a, sizeof before);
        std::memset(&out, 0x5a, sizeof out);
        LogCapture capture;

        const Result result = op.call(cuda());

        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr);
        // CUDA_ERROR_NOT_INITIALIZED
        EXPECT_EQ(value->status, 3);
        EXPECT_EQ(text(result.error().message()), message);
        EXPECT_TRUE(startsWith(text(value->origin), originPrefix(op.line))) << text(value->origin);
        EXPECT_EQ(capture.records().size(), 1u);
        EXPECT_EQ(std::memcmp(&before, &out, sizeof out), 0);
    }
    // Neither the operations nor their error texts reached the driver, and it was not loaded again.
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(dl::cudaOpens().size(), 1u);
}

TEST_F(CudaOperations, UnloadAfterEmptyingTheTableLetsEveryOperationLoadAgain)
{
    OutParameters out{};
    for (const Operation& op : operations(out)) {
        SCOPED_TRACE(op.name);
        ASSERT_FALSE(cuda().loadLib(3).has_error());
        cuda().setFuncsToNullptr();
        ASSERT_FALSE(cuda().unloadLib().has_error());
        reset();

        EXPECT_FALSE(op.call(cuda()).has_error());

        const std::vector<Call> recorded = calls();
        ASSERT_EQ(recorded.size(), 2u);
        EXPECT_EQ(recorded[0].entry, Entry::cuInit);
        EXPECT_EQ(recorded[0].arguments, std::vector<std::uint64_t>{0});
        EXPECT_EQ(recorded[1].entry, op.entry);
        EXPECT_EQ(recorded[1].arguments, op.arguments);
        static_cast<void>(cuda().unloadLib());
    }
}

TEST_F(CudaOperations, SameFailureTwiceGivesEquivalentErrors)
{
    setStatus(Entry::cuMemFree_v2, 1);
    const Result first = cuda().memFree(1);
    const Result second = cuda().memFree(2);
    const auto* firstValue = valueOf<cuda_error_domain>(first);
    ASSERT_NE(firstValue, nullptr);
    const system_error2::status_code<cuda_error_domain> typed(system_error2::in_place, *firstValue);
    EXPECT_TRUE(second.error().equivalent(typed));
    EXPECT_TRUE(startsWith(text(firstValue->origin), originPrefix(265)));
    EXPECT_TRUE(startsWith(text(valueOf<cuda_error_domain>(second)->origin), originPrefix(265)));
}

TEST_F(CudaOperations, DriverTextsAreCopiedVerbatimOrReplacedByTheStatus)
{
    struct Case {
        TextMode mode;
        const char* text;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {TextMode::text, "invalid argument", 1, "CUDA failed: invalid argument"},
        {TextMode::text, "100% %s%n {} {0}", 2, "CUDA failed: 100% %s%n {} {0}"},
        {TextMode::text, "", 3, "CUDA failed: code 3"},
        {TextMode::null, nullptr, 999, "CUDA failed: code 999"},
        {TextMode::untouched, nullptr, -5, "CUDA failed: code -5"},
    };
    ASSERT_FALSE(cuda().loadLib(0).has_error());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        setErrorText(c.mode, c.text);
        LogCapture capture;
        const Result result = cuda().wrapResult(static_cast<CUresult>(c.status), "src/cuvid", 77);
        EXPECT_EQ(text(result.error().message()), c.message);
        const auto records = capture.records();
        ASSERT_EQ(records.size(), 1u);
        const auto* value = valueOf<cuda_error_domain>(result);
        ASSERT_NE(value, nullptr);
        EXPECT_TRUE(startsWith(text(value->origin), "(src/cuvid:77)\n"));
        EXPECT_EQ(records[0].text, creationRecord("cuda error domain", c.message, text(value->origin)));
    }
}

}  // namespace
}  // namespace tav::test::cuda

namespace {

// The driver's published x86-64 layouts of the descriptors declared on top of nv-codec-headers.
static_assert(sizeof(CUDA_MEMCPY3D) == 200 && alignof(CUDA_MEMCPY3D) == 8);
static_assert(offsetof(CUDA_MEMCPY3D, srcMemoryType) == 32 && offsetof(CUDA_MEMCPY3D, reserved0) == 64);
static_assert(offsetof(CUDA_MEMCPY3D, dstMemoryType) == 120 && offsetof(CUDA_MEMCPY3D, reserved1) == 152);
static_assert(offsetof(CUDA_MEMCPY3D, WidthInBytes) == 176 && offsetof(CUDA_MEMCPY3D, Depth) == 192);
static_assert(sizeof(CUDA_MEMCPY3D_PEER) == 200 && alignof(CUDA_MEMCPY3D_PEER) == 8);
static_assert(offsetof(CUDA_MEMCPY3D_PEER, srcContext) == 64 && offsetof(CUDA_MEMCPY3D_PEER, dstContext) == 152);
static_assert(offsetof(CUDA_MEMCPY3D_PEER, dstHost) == 128 && offsetof(CUDA_MEMCPY3D_PEER, Depth) == 192);

}  // namespace
