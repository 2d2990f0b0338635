#include <tav/base/outcome/status_code>

#include "alloc_failure.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::base::system_error2_detail::createMessage;
using tav::base::system_error2_detail::duplicateMessage;
using tav::base::system_error2_detail::string_ref;
using tav::test::AllocationFailure;
using tav::test::LogCapture;

std::string text(const string_ref& ref) { return std::string(ref.data(), ref.size()); }

// A domain of the test's own, to exercise the base value type with a non-empty message.
class probe_domain;

struct probe_value : tav::base::system_error2_detail::base_value_type<probe_value> {
    using domain_type = probe_domain;
    probe_value(const char* file, int line, const boost::stacktrace::stacktrace& trace, const std::string& message)
        : base_value_type(file, line, trace, message)
    {
        diagnosticInformation();
    }
    string_ref composeMessage() const noexcept { return createMessage("composed %d", 42); }
};

class probe_domain : public tav::base::system_error2_detail::error_domain<probe_domain> {
public:
    using value_type = probe_value;
    static constexpr char domainName[] = "probe domain";
    constexpr probe_domain() noexcept : error_domain(0x1234567890abcdefull) {}
    static constexpr const probe_domain& get() noexcept;
};
inline constexpr probe_domain probe_domain_instance{};
constexpr const probe_domain& probe_domain::get() noexcept { return probe_domain_instance; }

using probe_code = system_error2::status_code<probe_domain>;

TEST(TextHelpers, DuplicateAndCreate)
{
    EXPECT_EQ(text(duplicateMessage(nullptr)), "");
    EXPECT_EQ(text(duplicateMessage("a {} %s text")), "a {} %s text");
    EXPECT_EQ(text(createMessage("%s-%d", "x", -7)), "x--7");

    string_ref original = createMessage("shared %s", "text");
    const char* storage = original.data();
    string_ref copy = original;
    EXPECT_EQ(copy.data(), storage);
    original = duplicateMessage(nullptr);
    EXPECT_EQ(text(copy), "shared text");
}

TEST(TextHelpers, FixedTextsStandInWhenMemoryRunsOut)
{
    struct Case {
        std::size_t failingAllocation;  // 0: all
        bool duplicate;
        const char* expected;
    };
    const Case cases[] = {
        {1, true, "Failed to duplicate message, out of memory"},
        {0, false, "Failed to create message, out of memory"},
        // The text is made, its reference count cannot be allocated.
        {2, true, "failed to get message from system"},
    };
    for (const Case& c : cases) {
        string_ref made("", 0);
        {
            AllocationFailure failure(c.failingAllocation);
            made = c.duplicate ? duplicateMessage("anything") : createMessage("%s", "anything");
        }
        EXPECT_EQ(text(made), c.expected);
    }
}

TEST(BaseValueType, OriginHoldsFileLineAndTrace)
{
    const probe_code withTrace(system_error2::in_place, "src/probe", 12, boost::stacktrace::stacktrace(), "");
    EXPECT_EQ(text(withTrace.value().origin).rfind("(src/probe:12)\n", 0), 0u);
    EXPECT_GT(withTrace.value().origin.size(), std::string("(src/probe:12)\n").size());

    const probe_code noFrames(system_error2::in_place, nullptr, 7, boost::stacktrace::stacktrace(0, 0), "");
    EXPECT_EQ(text(noFrames.value().origin), "(<no-source-file>:7)\n");
}

TEST(BaseValueType, NonEmptyMessageReplacesTheComposedOne)
{
    LogCapture capture;
    const probe_code composed(system_error2::in_place, "f", 1, boost::stacktrace::stacktrace(0, 0), "");
    EXPECT_EQ(text(composed.message()), "composed 42");

    const probe_code given(system_error2::in_place, "f", 2, boost::stacktrace::stacktrace(0, 0), "given {} %s");
    EXPECT_EQ(text(given.message()), "given {} %s");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].text, "Create error in 'probe domain': given {} %s [] (f:2)\n");

    try {
        given.throw_exception();
    } catch (const system_error2::status_error<probe_domain>& thrown) {
        EXPECT_STREQ(thrown.what(), "given {} %s");
    }
}

TEST(BaseValueType, RecordIsWrittenOnlyWhenTheLoggerRecordsDebug)
{
    LogCapture capture;
    capture.setLevel(spdlog::level::info);
    const probe_code code(system_error2::in_place, "f", 1, boost::stacktrace::stacktrace(0, 0), "");
    EXPECT_TRUE(capture.records().empty());
}

TEST(ErrorDomain, GenericCodeIsUnknown)
{
    const probe_code code(system_error2::in_place, "f", 1, boost::stacktrace::stacktrace(0, 0), "");
    EXPECT_TRUE(code.failure());
    EXPECT_TRUE(code.equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(code.equivalent(system_error2::generic_code(system_error2::errc::not_enough_memory)));
    EXPECT_EQ(text(code.domain().name()), "probe domain");
}

TEST(ErrorValue, FixedTextsStandInWhenTheOriginCannotBeFormatted)
{
    for (std::size_t n = 1;; ++n) {
        tav::test::failNthAllocation(n);
        const probe_code code(system_error2::in_place, "src/probe", 3, boost::stacktrace::stacktrace(0, 0), "");
        const std::size_t made = tav::test::allocationCount();
        tav::test::stopAllocationFailures();
        const std::string origin = text(code.value().origin);
        EXPECT_TRUE(origin == "(src/probe:3)\n" || origin == "Failed to create message, out of memory" ||
                    origin == "failed to get message from system")
            << origin;
        if (n > made) {
            EXPECT_EQ(origin, "(src/probe:3)\n");
            break;
        }
    }
}

}  // namespace
