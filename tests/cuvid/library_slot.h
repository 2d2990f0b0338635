// The directory that a scenario's loader searches, filled by the test itself: a test can offer one variant of the
// stand-in decoder library after another within one process.
#pragma once

#include <string>

namespace tav::test::cuvid {

// Makes the stand-in variant built under `variant` (for example "complete" or "without-cuvidCreateDecoder") the
// libnvcuvid.so.1 that the loader finds next.
void offerLibrary(const std::string& variant);

}  // namespace tav::test::cuvid
