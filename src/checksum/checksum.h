// The CRC-32 (zip, PNG) of a file, whole or with its CR and LF bytes skipped.
#pragma once

#include <cstdint>
#include <string>

namespace zelvane {

// Status 0: `checksum` holds the CRC-32 of the file's bytes, as many as its length when it was opened
// (platform::FileSizeOf: 0 for a FIFO or a device, so their CRC is that of no bytes), or with `eolBlind`
// of all but its 0x0D and 0x0A bytes (0 for an empty file). Never waits for a writer, never reads without
// end. Status 2: the file could not be opened or read, and `checksum` is left as it was.
int ComputeChecksum(const std::string& path, bool eolBlind, std::uint32_t& checksum);

}  // namespace zelvane
