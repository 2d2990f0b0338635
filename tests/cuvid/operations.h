// The twelve decoder operations as a table, each with the entry point it must call, the arguments that entry point
// must receive and the line its errors report.
#pragma once

#include <tav/nvidia/cuvid>

#include <cstdint>
#include <functional>
#include <vector>

namespace tav::test::cuvid {

struct Operation {
    const char* name;
    const char* entryPoint;
    int line;
    std::function<tav::nvidia::Result(tav::nvidia::CuVid&)> invoke;
    // What the entry point receives, as the stand-in records it.
    std::vector<std::uint64_t> arguments;
};

const std::vector<Operation>& operations();

}  // namespace tav::test::cuvid
