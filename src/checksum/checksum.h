// The CRC-32 (zip, PNG) of a file, whole or with its CR and LF bytes skipped.
#pragma once

#include <cstdint>
#include <string>

namespace zelvane {

// Status 0: `checksum` holds the CRC-32 of all the file's bytes, read to its end, or with
// `eolBlind` of all but its 0x0D and 0x0A bytes (0 for an empty file). Status 2:
// the file could not be opened or read, and `checksum` is left as it was.
int ComputeChecksum(const std::string& path, bool eolBlind, std::uint32_t& checksum);

}  // namespace zelvane
