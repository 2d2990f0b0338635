// The library's instantiations of each domain's value base, so that its members are part of the exported interface
// rather than only inlined where they are used.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbcerrordomain>

namespace tav::base::system_error2_detail {

template class base_value_type<nvidia::detail::dl_error_domain::value_type>;
template class base_value_type<nvidia::detail::cuda_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvcodecheader_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvenc_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvfbc_error_domain::value_type>;

}  // namespace tav::base::system_error2_detail
