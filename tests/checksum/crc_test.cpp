#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "checksum/checksum.h"
#include "checksum/crc32.h"

namespace zelvane {
namespace {

namespace fs = std::filesystem;
using crc32::Crc32Update;
using crc32::Crc32UpdateClmul;
using crc32::Crc32UpdatePortable;

// Bit at a time, straight from the definition, sharing nothing with the kernels.
std::uint32_t ReferenceCrc(const unsigned char* p, std::size_t len) {
  std::uint32_t reg = 0xFFFFFFFF;
  for (std::size_t i = 0; i < len; ++i) {
    reg ^= p[i];
    for (int bit = 0; bit < 8; ++bit)
      reg = (reg >> 1) ^ ((reg & 1) != 0 ? 0xEDB88320u : 0);
  }
  return ~reg;
}

std::uint32_t ReferenceCrc(const std::string& s) {
  return ReferenceCrc(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::string WithoutLineEnds(std::string s) {
  std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
  return s;
}

// Deterministic bytes, with line ends mixed in (about one byte in sixteen) so runs of every length occur.
std::vector<unsigned char> TestBytes(std::size_t len, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<unsigned char> out(len);
  for (auto& b : out) {
    const unsigned r = gen();
    b = (r & 0xF00) == 0 ? ((r & 1) != 0 ? '\r' : '\n') : static_cast<unsigned char>(r);
  }
  return out;
}

using Kernel = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

std::vector<std::pair<const char*, Kernel>> Kernels() {
  std::vector<std::pair<const char*, Kernel>> kernels = {{"portable", Crc32UpdatePortable},
                                                         {"dispatch", Crc32Update}};
  if (crc32::HasClmul()) kernels.emplace_back("clmul", Crc32UpdateClmul);
  return kernels;
}

TEST(Crc32Kernels, CheckValues) {
  const std::string million(1000000, 'a');
  const struct {
    std::string text;
    std::uint32_t crc;
  } cases[] = {
      {"", 0},
      {"123456789", 0xCBF43926},
      {"abc", 0x352441C2},
      {"abc\r\n", 0xECB57442},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
      {million, 0xDC25BFBC},
  };
  for (const auto& [name, kernel] : Kernels()) {
    for (const auto& c : cases) {
      EXPECT_EQ(kernel(0, c.text.data(), c.text.size()), c.crc) << name << " on " << c.text.substr(0, 20);
    }
  }
}

// Every start offset within a 16-byte line and every length up to 300 crosses each kernel's block edges
// and tails; the large buffer exercises the long folding loop.
TEST(Crc32Kernels, AgreeWithReferenceAtEveryAlignmentAndLength) {
  const std::vector<unsigned char> data = TestBytes(4 * 1024 * 1024 + 333, 7);
  for (const auto& [name, kernel] : Kernels()) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
      for (std::size_t len = 0; len <= 300; ++len) {
        ASSERT_EQ(kernel(0, data.data() + offset, len), ReferenceCrc(data.data() + offset, len))
            << name << " offset " << offset << " length " << len;
      }
    }
    const std::uint32_t whole = ReferenceCrc(data.data() + 3, data.size() - 3);
    EXPECT_EQ(kernel(0, data.data() + 3, data.size() - 3), whole) << name;
    // Fed in uneven pieces, the CRC carries over from piece to piece.
    std::uint32_t crc = 0;
    std::size_t at = 3;
    for (std::size_t piece = 1; at < data.size(); piece = piece * 3 + 1) {
      const std::size_t n = std::min(piece, data.size() - at);
      crc = kernel(crc, data.data() + at, n);
      at += n;
    }
    EXPECT_EQ(crc, whole) << name;
  }
}

TEST(RemoveLineEnds, KeepsEveryOtherByteInOrder) {
  const std::vector<unsigned char> data = TestBytes(5000, 11);
  std::vector<std::string> inputs = {"\r\n\r\n",
                                     "\n",
                                     std::string(40, '\r'),
                                     "abc\r\n",
                                     "\nabc",
                                     "line one\r\nline two\nline three\r",
                                     std::string(47, 'x') + "\r\n" + "y"};
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 4984}) {
      inputs.emplace_back(data.begin() + offset, data.begin() + offset + len);
    }
  }
  for (auto* remove : {crc32::RemoveLineEnds, crc32::RemoveLineEndsPortable}) {
    for (const std::string& in : inputs) {
      std::vector<unsigned char> out(in.size());
      const std::size_t kept =
          remove(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.data());
      ASSERT_EQ(std::string(out.begin(), out.begin() + kept), WithoutLineEnds(in)) << in.size();
    }
  }
}

class ChecksumFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zelvane_crc_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path dir_;
};

TEST_F(ChecksumFile, WholeAndWithoutLineEnds) {
  const struct {
    std::string content;
    std::uint32_t whole;
    std::uint32_t eolBlind;
  } cases[] = {
      {"", 0, 0},
      {"\r\n\r\n", 0x8BC21544, 0},
      {"\n\r\r\n\n", ReferenceCrc("\n\r\r\n\n"), 0},
      {"abc", 0x352441C2, 0x352441C2},
      {"abc\r\n", 0xECB57442, 0x352441C2},
      {"123456789", 0xCBF43926, 0xCBF43926},
  };
  for (const auto& c : cases) {
    const std::string path = Write("f.txt", c.content);
    std::uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(ComputeChecksum(path, false, crc), 0);
    EXPECT_EQ(crc, c.whole) << c.content;
    crc = 0xDEADBEEF;
    EXPECT_EQ(ComputeChecksum(path, true, crc), 0);
    EXPECT_EQ(crc, c.eolBlind) << c.content;
  }
}

TEST_F(ChecksumFile, CrLfAndLfTextDifferWholeButNotWithoutLineEnds) {
  const std::string crlf = Write("dos.txt", "first line\r\nsecond\r\n\r\nlast");
  const std::string lf = Write("unix.txt", "first line\nsecond\n\nlast");
  std::uint32_t crlfWhole = 0, lfWhole = 0, crlfBlind = 0, lfBlind = 0;
  ComputeChecksum(crlf, false, crlfWhole);
  ComputeChecksum(lf, false, lfWhole);
  ComputeChecksum(crlf, true, crlfBlind);
  ComputeChecksum(lf, true, lfBlind);
  EXPECT_NE(crlfWhole, lfWhole);
  EXPECT_EQ(crlfBlind, lfBlind);
  EXPECT_EQ(lfBlind, ReferenceCrc("first linesecondlast"));
}

// Several read blocks, with a CR LF pair split across the first block edge (1 MiB) and line ends at the
// very first and last bytes.
TEST_F(ChecksumFile, FileLargerThanOneRead) {
  // Sizes about the read buffer's (256 KiB) and well past it, with a CR LF split between two reads.
  constexpr std::size_t kRead = 256 * 1024;
  for (const std::size_t size :
       {kRead - 1, kRead, kRead + 1, 2 * kRead + 15, std::size_t{3 * 1024 * 1024 + 17}}) {
    const std::vector<unsigned char> bytes = TestBytes(size, 3);
    std::string content(bytes.begin(), bytes.end());
    content[0] = '\n';
    if (size > kRead) {
      content[kRead - 1] = '\r';
      content[kRead] = '\n';
    }
    content.back() = '\r';
    const std::string path = Write("big.bin", content);
    std::uint32_t crc = 0;
    ASSERT_EQ(ComputeChecksum(path, false, crc), 0) << size;
    EXPECT_EQ(crc, ReferenceCrc(content)) << size;
    ASSERT_EQ(ComputeChecksum(path, true, crc), 0) << size;
    EXPECT_EQ(crc, ReferenceCrc(WithoutLineEnds(content))) << size;
  }
}

TEST_F(ChecksumFile, UnopenableLeavesTheChecksumAlone) {
  for (const std::string& path : {(dir_ / "missing.txt").string(), dir_.string()}) {
    for (const bool eolBlind : {false, true}) {
      std::uint32_t crc = 0x12345678;
      EXPECT_EQ(ComputeChecksum(path, eolBlind, crc), 2) << path;
      EXPECT_EQ(crc, 0x12345678u) << path;
    }
  }
}

#ifndef _WIN32
// Files that are not what their length says. Each is read for exactly the length its entry reports when it
// is opened, without waiting, so none can hold the run: a FIFO nobody writes to (opening it would wait for a
// writer), /dev/zero (never ends), /proc files that report 0 yet hold text.
TEST_F(ChecksumFile, SpecialFilesCountWithTheirEntrysLength) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A hang ends the test program rather than the suite's patience.
  alarm(20);
  for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null"),
                                  std::string("/proc/self/cmdline"), std::string("/proc/self/mem")}) {
    if (!fs::exists(path)) continue;
    for (const bool eolBlind : {false, true}) {
      std::uint32_t crc = 0x12345678;
      EXPECT_EQ(ComputeChecksum(path, eolBlind, crc), 0) << path;
      EXPECT_EQ(crc, 0u) << path;
    }
  }
  alarm(0);
}

// A file whose length is known but whose read fails: a CRC of part of it would pass for its own.
TEST_F(ChecksumFile, RefusesAFailedRead) {
  // Reports 4096 bytes, and reading it fails for the loopback device, which has no speed.
  const std::string path = "/sys/class/net/lo/speed";
  std::ifstream in(path);
  std::string text;
  if (!fs::exists(path) || std::getline(in, text)) GTEST_SKIP() << path << " is not there or reads";
  std::uint32_t crc = 0x12345678;
  EXPECT_EQ(ComputeChecksum(path, false, crc), 2);
  EXPECT_EQ(crc, 0x12345678u);
}
#endif

}  // namespace
}  // namespace zelvane
