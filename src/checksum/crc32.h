// CRC-32 kernels (reflected polynomial 0xEDB88320, register preset to all ones, result complemented: the
// CRC of zip and PNG). Every Update function takes the CRC of the bytes before `data` (0 for none) and
// returns the CRC of those bytes followed by `data`, so a stream can be fed in pieces of any size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvane::crc32 {

// The fastest kernel this CPU runs; chosen once, on the first call.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t len);

// Table-driven, sixteen bytes per step; runs everywhere.
std::uint32_t Crc32UpdatePortable(std::uint32_t crc, const void* data, std::size_t len);

// Carry-less multiplication folding. Only call it when HasClmul() is true; where the CPU or the build has
// no such instruction it is the portable kernel.
std::uint32_t Crc32UpdateClmul(std::uint32_t crc, const void* data, std::size_t len);

// Whether this build and this CPU can run the carry-less multiplication kernel.
bool HasClmul();

// Copies every byte of `in` other than 0x0D and 0x0A to `out`, keeping their order, and returns how many
// there are. `out` holds `len` bytes and does not overlap `in`. RemoveLineEnds uses the widest scan the build
// has; the portable one reads a machine word at a time.
std::size_t RemoveLineEnds(const unsigned char* in, std::size_t len, unsigned char* out);
std::size_t RemoveLineEndsPortable(const unsigned char* in, std::size_t len, unsigned char* out);

}  // namespace zelvane::crc32
