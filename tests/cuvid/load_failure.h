// What a failed load of the decoder library must look like to the caller and in the log.
#pragma once

#include <tav/nvidia/result>

#include "log_capture.h"

#include <string>
#include <vector>

namespace tav::test::cuvid {

// The debug record that the load error writes when it is created, up to its stack trace.
inline const std::string kLoadErrorRecord =
    "Create error in 'nvcodecheader error domain': Failed to open cuvid [] (src/cuvid:26)\n";

// The codec-header loader error of the component "cuvid".
void expectLoadError(const tav::nvidia::Result& result);

// The line of the codec header at which the loader reports that `missing` (the library file or an entry point)
// could not be loaded; 0 if the header has no such place.
int loaderLine(const std::string& headerPath, const std::string& missing);

// The records of one failed load: the loader's error record naming what was missing, located in the loader
// function of the codec header, then the load error's debug record.
void expectFailedLoadRecords(const std::vector<LogRecord>& records, const std::string& missing);

}  // namespace tav::test::cuvid
