// Shared by the examples: report a failed step with the library's own error message.
#pragma once

#include <cstdio>
#include <string>

// True when the outcome succeeded; otherwise prints "<step> failed: <message>" to stderr.
template <class Outcome>
bool succeeded(const Outcome& outcome, const char* step)
{
    if (!outcome.has_error()) {
        return true;
    }
    const auto message = outcome.error().message();
    std::fprintf(stderr, "%s failed: %.*s\n", step, static_cast<int>(message.size()), message.data());
    return false;
}
