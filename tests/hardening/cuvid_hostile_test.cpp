// The decoder binding against a stand-in library with hostile statuses and a null decoder. The CUDA binding is not
// loaded, so the driver gives no text and the status itself is the message.
#include "../cuvid/standin/control.h"
#include "hostile_texts.h"

#include <tav/nvidia/cuvid>

#include <gtest/gtest.h>

namespace {

using tav::nvidia::CuVid;
namespace control = tav::test::cuvid;

TEST(CuVidHostileLibrary, StatusesOutsideTheEnumerationKeepTheirValue)
{
    for (const std::uint32_t status : tav::test::hostileStatuses) {
        control::setStatus(static_cast<int>(status));
        const tav::nvidia::Result result = CuVid::instance().destroyDecoder(nullptr);
        ASSERT_TRUE(result.has_error());
        const auto message = result.error().message();
        EXPECT_EQ(std::string(message.data(), message.size()),
                  "CUDA failed: code " + std::to_string(static_cast<std::int32_t>(status)));
    }
    control::reset();
}

TEST(CuVidHostileLibrary, SuccessWithoutADecoderPassesTheNullDecoderOn)
{
    control::reset();
    void* decoder = nullptr;
    // The stand-in reads neither structure.
    EXPECT_FALSE(CuVid::instance().createDecoder(&decoder, nullptr).has_error());
    EXPECT_EQ(decoder, nullptr);
    EXPECT_FALSE(CuVid::instance().destroyDecoder(decoder).has_error());
    EXPECT_EQ(control::calls().back().arguments, std::vector<std::uint64_t>{0});
}

}  // namespace
