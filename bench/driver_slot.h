// Where the benchmarks' driver libraries are found: a directory of their own that is the process's only library
// search path and that the benchmarks fill or empty, so that one process measures both a loaded driver and a
// missing one.
#pragma once

namespace tav::bench {

// The driver library names the bindings open.
inline constexpr const char* driverNames[] = {"libcuda.so", "libnvcuvid.so.1", "libnvidia-encode.so.1",
                                              "libnvidia-fbc.so.1"};

// The loader reads its search path once, at start-up: unless the slot already is the search path, runs this
// program again with it (does not return then).
void searchSlotOnly(char** argv);

// Links the do-nothing drivers into the slot.
void offerDrivers();
// Empties the slot: a binding that is not loaded yet will find no driver.
void withdrawDrivers();

// The entry point symbol of the driver library name, resolved by the benchmark itself. The library stays open.
void* resolve(const char* library, const char* symbol);

}  // namespace tav::bench
