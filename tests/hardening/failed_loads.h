// Repeats a failing load many times and expects the process to hold afterwards exactly what it held before.
#pragma once

#include <tav/nvidia/result>

#include <functional>
#include <string>

namespace tav::test {

// attempt makes one load that must fail; libraryFile is the driver library's file name, whose mappings are counted.
void expectFailedLoadsReleaseEverything(const std::string& libraryFile,
                                        const std::function<tav::nvidia::Result()>& attempt);

}  // namespace tav::test
