// What the CUDA binding's tests share: reading errors out of results and a fixture that starts every test with
// the binding unloaded and the stand-in and loader records cleared.
#pragma once

#include "dl_interpose.h"
#include "standin_control.h"

#include <tav/nvidia/cuda>
#include <tav/nvidia/dlerrordomain>

#include <gtest/gtest.h>

#include <string>

namespace tav::test::cuda {

using tav::nvidia::Cuda;
using tav::nvidia::Result;
using tav::nvidia::detail::cuda_error_domain;
using tav::nvidia::detail::dl_error_domain;

inline std::string text(const system_error2::status_code_domain::string_ref& ref)
{
    return std::string(ref.data(), ref.size());
}

// The typed value behind a result's erased error, or null when the error is of another domain.
template <class Domain>
const typename Domain::value_type* valueOf(const Result& result)
{
    if (!result.has_error()) {
        return nullptr;
    }
    const auto* typed = system_error2::get_if<system_error2::status_code<Domain>>(&result.error());
    return typed != nullptr ? &typed->value() : nullptr;
}

inline std::string originPrefix(int line) { return "(src/cuda:" + std::to_string(line) + ")\n"; }

inline bool startsWith(const std::string& whole, const std::string& prefix)
{
    return whole.compare(0, prefix.size(), prefix) == 0;
}

// The record every new error writes: the domain, the message, empty brackets and the origin.
inline std::string creationRecord(const char* domain, const std::string& message, const std::string& origin)
{
    return "Create error in '" + std::string(domain) + "': " + message + " [] " + origin;
}

class CudaFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        static_cast<void>(cuda().unloadLib());
        reset();
        dl::reset();
    }
    void TearDown() override
    {
        static_cast<void>(cuda().unloadLib());
        reset();
    }
    static Cuda& cuda() { return Cuda::instance(); }
};

}  // namespace tav::test::cuda
