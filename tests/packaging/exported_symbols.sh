#!/usr/bin/env bash
# The library exports its public interface and nothing else: every dynamic symbol it defines must match the
# allow-list, and the interface's entry points must be there.
#   exported_symbols.sh LIBRARY INCLUDE_DIRECTORY
set -uo pipefail

library=$1
include=$2
symbols=$(nm -D --defined-only -C "$library" | cut -d' ' -f3-)

allowed='^(tav::|make_status_code\(|typeinfo for tav::|typeinfo name for tav::|vtable for tav::|guard variable for tav::)'
unexpected=$(grep -Ev "$allowed" <<<"$symbols")
status=0
if [ -n "$unexpected" ]; then
    echo "exported but not part of the interface:"
    echo "$unexpected" | sed 's/^/    /'
    status=1
fi

required=(
    "tav::nvidia::Cuda::instance()"
    "tav::nvidia::Cuda::wrapResult(cudaError_enum, char const*, int) const"
    "tav::nvidia::CuVid::instance()"
    "tav::nvidia::NvEnc::instance()"
    "tav::nvidia::NvFBC::instance()"
    "tav::base::system_error2_detail::createMessage(char const*, ...)"
    "tav::base::system_error2_detail::duplicateMessage(char const*)"
    # Called by the headers' inline code: the value base, and the status tables' warnings.
    "tav::base::system_error2_detail::createOrigin(char const*, int, boost::stacktrace::basic_stacktrace<std::allocator<boost::stacktrace::frame> > const&)"
    "tav::base::system_error2_detail::writeErrorRecord(char const*, int, char const*, char const*, system_error2::status_code_domain::string_ref const&, system_error2::status_code_domain::string_ref const&)"
    "tav::base::writeUnexpectedValueRecord(char const*, int, char const*, char const*, unsigned int)"
    "vtable for tav::nvidia::detail::cuda_error_domain"
)
for domain in dl cuda nvcodecheader nvenc nvfbc; do
    required+=("make_status_code(system_error2::status_code<tav::nvidia::detail::${domain}_error_domain>)")
    required+=("tav::base::system_error2_detail::base_value_type<tav::nvidia::detail::${domain}_error_domain::value_type>::diagnosticInformation() const")
    # The domains' behaviour is instantiated in the library only; a host that does not inline its constructor calls it.
    required+=("tav::base::system_error2_detail::error_domain<tav::nvidia::detail::${domain}_error_domain>::error_domain(unsigned long long)")
done
# The operations are inline in the headers (the capture operations where the Boost version allows); the library
# still exports each one, for hosts that call it out of line.
# Their names come from the headers' operation tables (rows "X(operation, ...").
for binding in Cuda:cuda CuVid:cuvid NvEnc:nvenc NvFBC:nvfbc; do
    class=${binding%%:*}
    operations=$(grep -oE '^ *X\([a-zA-Z0-9]+,' "$include/tav/nvidia/${binding#*:}" | sed -E 's/^ *X\(([a-zA-Z0-9]+),/\1/')
    if [ -z "$operations" ]; then
        echo "no operation table found for $class"
        status=1
    fi
    # The one encoder operation outside the table.
    [ "$class" = NvEnc ] && operations+=" encodePicture"
    for operation in $operations; do
        if ! grep -q -- "^tav::nvidia::$class::$operation(" <<<"$symbols"; then
            echo "operation not exported: tav::nvidia::$class::$operation"
            status=1
        fi
    done
done
for symbol in "${required[@]}"; do
    if ! grep -Fxq -- "$symbol" <<<"$symbols"; then
        echo "missing from the exported interface: $symbol"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "$(wc -l <<<"$symbols") exported symbols, all part of the interface"
exit "$status"
