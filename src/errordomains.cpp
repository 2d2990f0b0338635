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
    return system_error2::make_status_code_ptr(std::move(code));
}

}  // namespace

tav::base::system_error2_detail::erased_code<tav::nvidia::detail::dl_error_domain> make_status_code(
    system_error2::status_code<tav::nvidia::detail::dl_error_domain> code)
{
    return erase(std::move(code));
}

tav::base::system_error2_detail::erased_code<tav::nvidia::detail::cuda_error_domain> make_status_code(
    system_error2::status_code<tav::nvidia::detail::cuda_error_domain> code)
{
    return erase(std::move(code));
}

tav::base::system_error2_detail::erased_code<tav::nvidia::detail::nvcodecheader_error_domain> make_status_code(
    system_error2::status_code<tav::nvidia::detail::nvcodecheader_error_domain> code)
{
    return erase(std::move(code));
}

tav::base::system_error2_detail::erased_code<tav::nvidia::detail::nvenc_error_domain> make_status_code(
    system_error2::status_code<tav::nvidia::detail::nvenc_error_domain> code)
{
    return erase(std::move(code));
}

tav::base::system_error2_detail::erased_code<tav::nvidia::detail::nvfbc_error_domain> make_status_code(
    system_error2::status_code<tav::nvidia::detail::nvfbc_error_domain> code)
{
    return erase(std::move(code));
}
