#include "library_slot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace tav::test::cuvid {

void offerLibrary(const std::string& variant)
{
    // The scenario names the directory in the loader's search path and in TAV_CUVID_SLOT.
    const char* slot = std::getenv("TAV_CUVID_SLOT");
    ASSERT_NE(slot, nullptr) << "TAV_CUVID_SLOT names no directory";
    const std::filesystem::path link = std::filesystem::path(slot) / "libnvcuvid.so.1";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(std::filesystem::path(TAV_CUVID_STANDIN_ROOT) / variant / "libnvcuvid.so.1", link);
}

}  // namespace tav::test::cuvid
