#include "checksum/checksum.h"

#include <algorithm>
#include <new>
#include <vector>

#include "checksum/crc32.h"
#include "platform/files.h"

namespace zelvane {
namespace {

constexpr std::size_t kSmallestBuffer = std::size_t{64} * 1024;
// Small enough that what one read copies in is still in the processor's cache when the CRC reads it
// (measured: 256 KiB reads of a cached file are faster overall than 1 MiB ones).
constexpr std::size_t kLargestBuffer = std::size_t{256} * 1024;
// Line ends are removed into a second, small buffer a piece at a time, so that what the CRC reads next is
// still in the cache.
constexpr std::size_t kPiece = std::size_t{64} * 1024;

// The kernel copies into a buffer that starts on a page boundary several times faster than into one that
// does not (measured: four times, for a 1 MiB read from the page cache), and a vector's storage starts
// wherever the allocator puts it.
constexpr std::size_t kPageAlignment = 4096;

struct AlignedBuffer {
  unsigned char* data = nullptr;
  std::size_t size = 0;

  AlignedBuffer() = default;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { Release(); }

  void Release() {
    if (data != nullptr) ::operator delete (data, std::align_val_t{kPageAlignment});
    data = nullptr;
    size = 0;
  }
  // False when the memory is not there; the buffer then holds what it held.
  bool Grow(std::size_t wanted) {
    if (size >= wanted) return true;
    auto* grown =
        static_cast<unsigned char*>(::operator new (wanted, std::align_val_t{kPageAlignment}, std::nothrow));
    if (grown == nullptr) return size > 0;
    Release();
    data = grown;
    size = wanted;
    return true;
  }
};

// One read buffer for the process, grown to fit the files seen so far up to kLargestBuffer, so a search
// that tests thousands of small files neither allocates per file nor touches the whole buffer for each.
AlignedBuffer& ReadBuffer(std::uint64_t fileSize) {
  thread_local AlignedBuffer buffer;
  const std::uint64_t wanted = std::clamp<std::uint64_t>(fileSize, kSmallestBuffer, kLargestBuffer);
  if (!buffer.Grow(static_cast<std::size_t>(wanted))) throw std::bad_alloc();
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
  AlignedBuffer& buffer = ReadBuffer(left);
  std::uint32_t crc = 0;
  while (left > 0) {
    const std::size_t want = left < buffer.size ? static_cast<std::size_t>(left) : buffer.size;
    const std::int64_t got = platform::ReadBytes(file, buffer.data, want);
    if (got < 0) {
      // A CRC of part of the file would pass for the file's own.
      platform::CloseFile(file);
      return 2;
    }
    if (got == 0) break;
    const auto count = static_cast<std::size_t>(got);
    left -= count;
    if (!eolBlind) {
      crc = crc32::Crc32Update(crc, buffer.data, count);
      continue;
    }
    thread_local std::vector<unsigned char> kept(kPiece);
    for (std::size_t at = 0; at < count; at += kPiece) {
      const std::size_t n =
          crc32::RemoveLineEnds(buffer.data + at, std::min(kPiece, count - at), kept.data());
      crc = crc32::Crc32Update(crc, kept.data(), n);
    }
  }
  platform::CloseFile(file);
  checksum = crc;
  return 0;
}

}  // namespace zelvane
