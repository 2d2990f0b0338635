#include <tav/nvidia/dlerrordomain>

#include "log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::nvidia::Result;
using tav::nvidia::detail::dl_error_domain;
using tav::test::LogCapture;
using typed_code = system_error2::status_code<dl_error_domain>;

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

typed_code makeCode(const char* library, const char* function, const char* symbol, const char* loaderText)
{
    return typed_code(system_error2::in_place, library, function, symbol, loaderText, "src/cuda", 76,
                      boost::stacktrace::stacktrace());
}

Result makeResult(const char* function, const char* symbol, const char* loaderText)
{
    return tav::base::system_error2_detail::failure<dl_error_domain>("libcuda.so", function, symbol, loaderText,
                                                                     "src/cuda", 76, boost::stacktrace::stacktrace());
}

TEST(DlErrorDomain, ComposesMessageFromFunctionSymbolAndLoaderText)
{
    struct Case {
        const char* function;
        const char* symbol;
        const char* loaderText;
        const char* message;
    };
    const Case cases[] = {
        {"dlsym", "cuDeviceGet", "libcuda.so: undefined symbol: cuDeviceGet",
         "dlsym(cuDeviceGet) failed: libcuda.so: undefined symbol: cuDeviceGet"},
        {"dlopen", nullptr, "libcuda.so: cannot open shared object file", "dlopen() failed: libcuda.so: cannot open shared object file"},
        {"dlopen", nullptr, nullptr, "dlopen() failed: "},
        {"dlclose", nullptr, "100% {} %s %n", "dlclose() failed: 100% {} %s %n"},
    };
    for (const Case& c : cases) {
        const typed_code code = makeCode("libcuda.so", c.function, c.symbol, c.loaderText);
        EXPECT_EQ(text(code.message()), c.message);
    }
}

TEST(DlErrorDomain, LibraryNameIsNotPartOfTheMessage)
{
    const typed_code cuda = makeCode("libcuda.so", "dlopen", nullptr, "gone");
    const typed_code fbc = makeCode("libnvidia-fbc.so.1", "dlopen", nullptr, "gone");
    EXPECT_EQ(text(cuda.message()), text(fbc.message()));
    EXPECT_STREQ(fbc.value().libraryName, "libnvidia-fbc.so.1");
}

TEST(DlErrorDomain, CreationWritesExactlyOneDebugRecord)
{
    LogCapture capture;
    const typed_code code = makeCode("libcuda.so", "dlsym", "cuDeviceGet", "no {} here %d");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::debug);
    EXPECT_EQ(records[0].function, "diagnosticInformation");
    const std::string expectedStart =
        "Create error in 'dl error domain': dlsym(cuDeviceGet) failed: no {} here %d [] (src/cuda:76)\n";
    EXPECT_EQ(records[0].text.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(records[0].text, "Create error in 'dl error domain': dlsym(cuDeviceGet) failed: no {} here %d [] " +
                                   text(code.value().origin));

    capture.clear();
    {
        typed_code copy = code;
        typed_code moved = std::move(copy);
        Result erased = tav::base::system_error2_detail::failure<dl_error_domain>(
            "libcuda.so", "dlopen", nullptr, "x", "src/cuda", 61, boost::stacktrace::stacktrace());
        capture.clear();
        Result movedResult = std::move(erased);
        Result cloned{movedResult.error().clone()};
    }
    EXPECT_TRUE(capture.records().empty());
}

TEST(DlErrorDomain, ErasedIntoAResult)
{
    Result result = makeResult("dlsym", "cuDeviceGet", "missing");
    ASSERT_TRUE(result.has_error());
    EXPECT_FALSE(result.has_value());
    const auto& error = result.error();
    EXPECT_EQ(text(error.domain().name()), "dl error domain");
    EXPECT_EQ(error.domain().id(), 0x4533af2a25f65755ull ^ 0xc44f7bdeb2cc50e9ull);
    EXPECT_EQ(text(error.message()), "dlsym(cuDeviceGet) failed: missing");
    EXPECT_TRUE(error.failure());

    try {
        result.value();
        FAIL() << "value() of a failed result must throw";
    } catch (const system_error2::status_error<dl_error_domain>& thrown) {
        EXPECT_STREQ(thrown.what(), "dlsym(cuDeviceGet) failed: missing");
    }
}

TEST(DlErrorDomain, Equivalence)
{
    const Result first = makeResult("dlsym", "cuDeviceGet", "a");
    const Result second = makeResult("dlopen", nullptr, "b");
    const typed_code other = makeCode("libnvidia-fbc.so.1", "dlclose", nullptr, "c");

    EXPECT_TRUE(first.error().equivalent(other));
    EXPECT_TRUE(other.equivalent(first.error()));
    EXPECT_TRUE(makeCode("a", "dlopen", nullptr, "x").equivalent(makeCode("b", "dlsym", "s", "y")));
    EXPECT_FALSE(first.error().equivalent(second.error()));

    EXPECT_TRUE(first.error().equivalent(system_error2::generic_code(system_error2::errc::unknown)));
    EXPECT_FALSE(first.error().equivalent(system_error2::generic_code(system_error2::errc::no_such_file_or_directory)));
    EXPECT_FALSE(first.error().equivalent(system_error2::generic_code(system_error2::errc::success)));
    EXPECT_EQ(other.domain().id(), 0x4533af2a25f65755ull);
}

TEST(DlErrorDomain, CopyOutlivesTheOriginal)
{
    std::string loaderText = "transient loader buffer";
    auto* copy = new typed_code(makeCode("libcuda.so", "dlclose", nullptr, loaderText.c_str()));
    loaderText.assign(loaderText.size(), 'x');
    typed_code survivor = *copy;
    delete copy;
    EXPECT_EQ(text(survivor.message()), "dlclose() failed: transient loader buffer");
    EXPECT_EQ(text(survivor.value().errorText), "transient loader buffer");
}

TEST(DlErrorDomain, MovedFromCodeIsEmpty)
{
    typed_code code = makeCode("libcuda.so", "dlopen", nullptr, "x");
    auto erased = make_status_code(std::move(code));
    EXPECT_TRUE(code.empty());
    EXPECT_EQ(text(code.message()), "(empty)");
    EXPECT_FALSE(erased.empty());
}

}  // namespace
