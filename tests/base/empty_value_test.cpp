// Every domain's value has an empty state, so that codes of every domain fit types that default-construct their
// contents: std::optional, and the typed result, which asks for a nothrow one.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbcerrordomain>

#include "log_capture.h"

#include <gtest/gtest.h>

#include <optional>
#include <type_traits>

namespace {

using namespace tav::nvidia::detail;

template <class Domain>
class EmptyValue : public ::testing::Test {};

using Domains = ::testing::Types<dl_error_domain, cuda_error_domain, nvcodecheader_error_domain, nvenc_error_domain,
                                 nvfbc_error_domain>;
TYPED_TEST_SUITE(EmptyValue, Domains);

TYPED_TEST(EmptyValue, FitsOptionalsAndTypedResultsWithoutAnnouncingAnError)
{
    using code_type = system_error2::status_code<TypeParam>;
    static_assert(std::is_nothrow_default_constructible_v<typename TypeParam::value_type>);

    tav::test::LogCapture capture;
    std::optional<code_type> none;
    EXPECT_FALSE(none.has_value());
    none.emplace();
    const typename TypeParam::value_type& empty = none->value();
    EXPECT_TRUE(empty.message.empty());
    EXPECT_TRUE(empty.origin.empty());
    // Only a made error announces itself; an empty one has nothing to say and its message is still composed.
    EXPECT_NE(none->message().c_str(), nullptr);
    EXPECT_TRUE(capture.records().empty());

    const tav::base::outcome::typed_result<TypeParam> success{BOOST_OUTCOME_V2_NAMESPACE::success()};
    EXPECT_TRUE(success.has_value());
}

}  // namespace
