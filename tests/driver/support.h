// What the cases against NVIDIA's real libraries share: reading results and records, and the process's mappings.
#pragma once

#include "log_capture.h"

#include <tav/nvidia/result>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace tav::test::driver {

// CUDA statuses of cuda.h that the codec headers' CUresult does not name.
constexpr int cudaInvalidValue = 1;
constexpr int cudaNoDevice = 100;
constexpr int cudaInvalidHandle = 400;

inline std::string text(const system_error2::status_code_domain::string_ref& ref)
{
    return std::string(ref.data(), ref.size());
}

template <class Outcome>
std::string messageOf(const Outcome& outcome)
{
    return outcome.has_error() ? text(outcome.error().message()) : std::string("success");
}

template <class Outcome>
std::string domainOf(const Outcome& outcome)
{
    return outcome.has_error() ? text(outcome.error().domain().name()) : std::string("none");
}

// The typed value behind a result's erased error, or null when the result holds none of Domain.
template <class Domain>
const typename Domain::value_type* valueOf(const tav::nvidia::Result& result)
{
    if (!result.has_error()) {
        return nullptr;
    }
    const auto* typed = system_error2::get_if<system_error2::status_code<Domain>>(&result.error());
    return typed != nullptr ? &typed->value() : nullptr;
}

inline bool startsWith(const std::string& whole, const std::string& prefix)
{
    return whole.compare(0, prefix.size(), prefix) == 0;
}

// The debug records that announce new errors, in the order they were written.
inline std::vector<std::string> creationRecords(const LogCapture& capture)
{
    std::vector<std::string> texts;
    for (const LogRecord& record : capture.records(spdlog::level::debug)) {
        if (startsWith(record.text, "Create error in '")) {
            texts.push_back(record.text);
        }
    }
    return texts;
}

// Whether a binding built on the codec-header loader loads. Where the branch's library lacks an entry point that the
// loader resolves (missing, null when it lacks none), checks instead that the call failed to load the component,
// and that each load attempt logged what the library lacks.
inline bool loads(const tav::nvidia::Result& result, const LogCapture& capture, const std::string& component,
                  const char* missing)
{
    if (missing == nullptr) {
        return true;
    }
    EXPECT_EQ(domainOf(result), "nvcodecheader error domain");
    EXPECT_EQ(messageOf(result), "Failed to open " + component);
    const auto errors = capture.records(spdlog::level::err);
    EXPECT_FALSE(errors.empty());
    for (const LogRecord& error : errors) {
        EXPECT_EQ(error.text, "Cannot load " + std::string(missing) + "\n");
    }
    return false;
}

// Whether a file whose name contains part is mapped into this process.
inline bool mapped(const std::string& part)
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace tav::test::driver
