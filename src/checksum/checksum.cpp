#include "checksum/checksum.h"

#include <algorithm>
#include <vector>

#include "checksum/crc32.h"
#include "platform/files.h"

namespace zelvane {
namespace {

constexpr std::size_t kSmallestBuffer = std::size_t{64} * 1024;
constexpr std::size_t kLargestBuffer = std::size_t{1024} * 1024;
// Line ends are removed into a second, small buffer a piece at a time, so that what the CRC reads next is
// still in the cache.
constexpr std::size_t kPiece = std::size_t{64} * 1024;

// One read buffer for the process, grown to fit the files seen so far up to 1 MiB, so a search that tests
// thousands of small files neither allocates per file nor touches a megabyte for each.
std::vector<unsigned char>& ReadBuffer(std::uint64_t fileSize) {
  thread_local std::vector<unsigned char> buffer;
  const std::uint64_t wanted = std::clamp<std::uint64_t>(fileSize, kSmallestBuffer, kLargestBuffer);
  if (buffer.size() < wanted) buffer.resize(static_cast<std::size_t>(wanted));
  return buffer;
}

}  // namespace

int ComputeChecksum(const std::string& path, bool eolBlind, std::uint32_t& checksum) {
  const platform::FileHandle file = platform::OpenForReading(path);
  if (file == platform::kNoFile) return 2;

  // Exactly the length taken at the open, which may be past 4 GiB: a file that never ends (a device, a
  // FIFO, a file that grows meanwhile) cannot keep the run reading, and a small file is read in one call.
  // A file that has become shorter ends where it ends now.
  std::uint64_t left = platform::FileSizeOf(file);
  std::vector<unsigned char>& buffer = ReadBuffer(left);
  std::uint32_t crc = 0;
  while (left > 0) {
    const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    const std::int64_t got = platform::ReadBytes(file, buffer.data(), want);
    if (got < 0) {
      // A CRC of part of the file would pass for the file's own.
      platform::CloseFile(file);
      return 2;
    }
    if (got == 0) break;
    const auto count = static_cast<std::size_t>(got);
    left -= count;
    if (!eolBlind) {
      crc = crc32::Crc32Update(crc, buffer.data(), count);
      continue;
    }
    thread_local std::vector<unsigned char> kept(kPiece);
    for (std::size_t at = 0; at < count; at += kPiece) {
      const std::size_t n =
          crc32::RemoveLineEnds(buffer.data() + at, std::min(kPiece, count - at), kept.data());
      crc = crc32::Crc32Update(crc, kept.data(), n);
    }
  }
  platform::CloseFile(file);
  checksum = crc;
  return 0;
}

}  // namespace zelvane
