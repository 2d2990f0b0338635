// The library's instantiations of each domain's behaviour and value base, which the domain headers declare extern,
// and each domain's erasure: hosts use these instead of making copies of their own.
#include <tav/nvidia/cudaerrordomain>
#include <tav/nvidia/dlerrordomain>
#include <tav/nvidia/nvcodecheadererrordomain>
#include <tav/nvidia/nvencerrordomain>
#include <tav/nvidia/nvfbcerrordomain>

namespace tav::base::system_error2_detail {

template class error_domain<nvidia::detail::dl_error_domain>;
template class error_domain<nvidia::detail::cuda_error_domain>;
template class error_domain<nvidia::detail::nvcodecheader_error_domain>;
template class error_domain<nvidia::detail::nvenc_error_domain>;
template class error_domain<nvidia::detail::nvfbc_error_domain>;

template class base_value_type<nvidia::detail::dl_error_domain::value_type>;
template class base_value_type<nvidia::detail::cuda_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvcodecheader_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvenc_error_domain::value_type>;
template class base_value_type<nvidia::detail::nvfbc_error_domain::value_type>;

}  // namespace tav::base::system_error2_detail

namespace {

// Moves a typed code to the heap behind the indirecting domain.
template <class Domain>
tav::base::system_error2_detail::erased_code<Domain> erase(system_error2::status_code<Domain>&& code)
{
#ifdef TAV_BASE_NESTED_STATUS_CODE
    return system_error2::make_nested_status_code(std::move(code));
#else
    return system_error2::make_status_code_ptr(std::move(code));
#endif
}

}  // namespace

#define TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(domain)                                                              \
    tav::base::system_error2_detail::erased_code<tav::nvidia::detail::domain> make_status_code(                 \
        system_error2::status_code<tav::nvidia::detail::domain> code)                                           \
    {                                                                                                           \
        return erase(std::move(code));                                                                          \
    }
TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(dl_error_domain)
TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(cuda_error_domain)
TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(nvcodecheader_error_domain)
TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(nvenc_error_domain)
TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE(nvfbc_error_domain)
#undef TAV_NVIDIA_DEFINE_MAKE_STATUS_CODE
