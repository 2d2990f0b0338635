#include "load_failure.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tav::test::cuvid {

namespace {

constexpr char kLibraryFile[] = "libnvcuvid.so.1";
constexpr char kHeaderSuffix[] = "/ffnvcodec/dynlink_loader.h";

std::string text(const system_error2::status_code_domain::string_ref& ref) { return std::string(ref.data(), ref.size()); }

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void expectLoadError(const tav::nvidia::Result& result)
{
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(text(result.error().message()), "Failed to open cuvid");
    EXPECT_EQ(text(result.error().domain().name()), "nvcodecheader error domain");
    EXPECT_EQ(result.error().domain().id(), 0x3da88c458464d9adull);
}

int loaderLine(const std::string& headerPath, const std::string& missing)
{
    // The library is opened by the preamble of the loader function; each entry point by a lookup naming it.
    const std::string place =
        missing == kLibraryFile ? "GENERIC_LOAD_FUNC_PREAMBLE(CuvidFunctions" : "\"" + missing + "\");";
    std::ifstream header(headerPath);
    std::string line;
    for (int number = 1; std::getline(header, line); ++number) {
        if (line.find(place) != std::string::npos) {
            return number;
        }
    }
    return 0;
}

void expectFailedLoadRecords(const std::vector<LogRecord>& records, const std::string& missing)
{
    ASSERT_EQ(records.size(), 2u);

    const LogRecord& loader = records[0];
    EXPECT_EQ(loader.level, spdlog::level::err);
    EXPECT_EQ(loader.text, "Cannot load " + missing + "\n");
    EXPECT_TRUE(endsWith(loader.file, kHeaderSuffix)) << loader.file;
    EXPECT_NE(loader.line, 0);
    EXPECT_EQ(loader.line, loaderLine(loader.file, missing));
    EXPECT_EQ(loader.function, "cuvid_load_functions");

    const LogRecord& error = records[1];
    EXPECT_EQ(error.level, spdlog::level::debug);
    EXPECT_EQ(error.text.rfind(kLoadErrorRecord, 0), 0u) << error.text;
}

}  // namespace tav::test::cuvid
