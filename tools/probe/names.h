// Readable names of the encoder's GUIDs and buffer formats.
#pragma once

#include <ffnvcodec/nvEncodeAPI.h>

#include <string>

namespace tav::probe {

std::string codecName(const GUID& guid);
std::string profileName(const GUID& guid);
std::string presetName(const GUID& guid);
std::string bufferFormatName(NV_ENC_BUFFER_FORMAT format);

}  // namespace tav::probe
