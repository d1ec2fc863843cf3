#include "filespec/qualifiers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "command/run_settings.h"
#include "command/stamps.h"
#include "platform/file_time.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

namespace zelvane {
namespace {

TEST(OperatorPassesTest, OperatorTable) {
  struct Case {
    const char* text;
    bool passesBelow;  // r = -1: the found file's value is the greater
    bool passesEqual;  // r = 0
    bool passesAbove;  // r = +1: the found file's value is the smaller
  };
  const Case cases[] = {
      {"eq(5)", false, true, false},  {"ne(5)", true, false, true},   {"gte(5)", true, true, false},
      {"lte(5)", false, true, true},  {"gt(5)", true, false, false},  {"lt(5)", false, false, true},
      {"gtx(5)", true, false, false}, {"lten(5)", false, true, true}, {"EQ(5)", false, false, false},
      {"Gt(5)", false, false, false}, {"(5)", false, false, false},   {"e(5)", false, false, false},
      {"", false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OperatorPasses(c.text, -1), c.passesBelow) << c.text;
    EXPECT_EQ(OperatorPasses(c.text, 0), c.passesEqual) << c.text;
    EXPECT_EQ(OperatorPasses(c.text, 1), c.passesAbove) << c.text;
  }
}

TEST(CompareOperandTest, SizeLiteralsAreWhole64BitSizes) {
  RunSettings ctx;
  platform::FindData entry;
  const auto compare = [&](std::uint64_t size, const char* operand) {
    entry.size = size;
    return CompareOperand(ctx, QualifierKind::kSize, "/no/such/file", entry, operand);
  };
  EXPECT_EQ(compare(100, "(100)"), 0);
  EXPECT_EQ(compare(100, "(99)"), -1);
  EXPECT_EQ(compare(100, "(101)"), 1);
  EXPECT_EQ(compare(10, "(10k)"), 0);
  EXPECT_EQ(compare(1ULL << 32, "(0)"), -1);
  EXPECT_EQ(compare(1ULL << 32, "(4294967296)"), 0);
  EXPECT_EQ(compare((1ULL << 32) + 5, "(5)"), -1);
  EXPECT_EQ(compare(std::numeric_limits<std::uint64_t>::max(), "(99999999999999999999999)"), 0);
  EXPECT_EQ(compare(std::numeric_limits<std::uint64_t>::max() - 1, "(18446744073709551616)"), 1);
  // An unclosed operand loses its last character: "(10" reads as 1.
  EXPECT_EQ(compare(1, "(10"), 0);
}

TEST(CompareOperandTest, TimeLiteralAgainstWriteOrAccessTime) {
  RunSettings ctx;
  std::uint64_t fileTime = 0;
  ASSERT_TRUE(
      platform::LocalSystemTimeToFileTime({.year = 2001, .month = 3, .day = 7, .hour = 12}, fileTime));
  platform::FindData entry;
  entry.lastWriteTime = fileTime;
  entry.lastAccessTime = fileTime + 3600ULL * 10000000;
  const auto compare = [&](const char* operand) {
    return CompareOperand(ctx, QualifierKind::kTime, "/no/such/file", entry, operand);
  };
  EXPECT_EQ(compare("(2001-03-07 12:00:02)"), 0);
  EXPECT_EQ(compare("(2001-03-07 12:00:03)"), 1);
  EXPECT_EQ(compare("(2001-03-07)"), -1);
  ctx.useAccessTime = 1;
  EXPECT_EQ(compare("(2001-03-07 12:00:03)"), -1);
  EXPECT_EQ(compare("(2001-03-07 13:00:00)"), 0);
}

// File-name operands, resolved in a directory of our own that is current while the test runs.
class OperandFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::GetCurrentDir(previous_));
    ASSERT_TRUE(platform::SetCurrentDir(dir_.path()));
  }
  void TearDown() override { platform::SetCurrentDir(previous_); }

  // Sets a file's last-write time to `seconds` after 1970-01-01 00:00 UTC.
  void SetWriteTime(const std::string& relative, std::int64_t seconds) {
    const std::chrono::sys_seconds time{std::chrono::seconds{seconds}};
    std::filesystem::last_write_time(dir_ / relative, std::chrono::file_clock::from_sys(time));
  }

  static std::uint64_t FileTimeOf(std::int64_t seconds) {
    return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  }

  RunSettings ctx_;
  test::TempDir dir_;
  std::string previous_;
};

TEST_F(OperandFileTest, ResolvesQuotedRelativeAndWildcardNames) {
  dir_.WriteFile("my file.exe", "12345");
  SetWriteTime("my file.exe", 1000);
  OperandFile file;
  for (const char* operand :
       {"my file.exe", "'my file.exe'", "\"my file.exe\"\"", "my*.exe", "MY FILE.EXE"}) {
    ASSERT_TRUE(ResolveOperandFile(ctx_, "x.c", operand, false, false, file)) << operand;
    EXPECT_EQ(file.size, 5u) << operand;
    EXPECT_EQ(file.time, FileTimeOf(1000)) << operand;
  }
  ASSERT_TRUE(ResolveOperandFile(ctx_, "x.c", dir_ / "my file.exe", false, false, file));
  EXPECT_EQ(file.size, 5u);

  EXPECT_FALSE(ResolveOperandFile(ctx_, "x.c", "'other.exe'", false, false, file));
  EXPECT_EQ(file.size, 0u);
  EXPECT_EQ(file.time, 0u);
}

TEST_F(OperandFileTest, MissingChecksumOperandIsEqualOnlyWhenDigitLed) {
  dir_.WriteFile("found.txt", "abc");
  platform::FindData entry;
  ASSERT_TRUE(platform::FindFirst(dir_ / "found.txt", entry));
  const std::string path = dir_ / "found.txt";
  for (QualifierKind kind : {QualifierKind::kComp, QualifierKind::kCont}) {
    // A "0x" literal of value 0 is a file name; with no such file everything equals it.
    EXPECT_EQ(CompareOperand(ctx_, kind, path, entry, "(0x0)"), 0);
    EXPECT_EQ(CompareOperand(ctx_, kind, path, entry, "(0x)"), 0);
    EXPECT_EQ(CompareOperand(ctx_, kind, path, entry, "(123)"), 0);
    EXPECT_EQ(CompareOperand(ctx_, kind, path, entry, "(abc)"), -1);
    EXPECT_EQ(CompareOperand(ctx_, kind, path, entry, "('0x0')"), -1);
  }
  // Size and time operands that name no file are below every file.
  EXPECT_EQ(CompareOperand(ctx_, QualifierKind::kSize, path, entry, "(MY.EXE)"), -1);
  EXPECT_EQ(CompareOperand(ctx_, QualifierKind::kTime, path, entry, "(MY.EXE)"), -1);
}

TEST_F(OperandFileTest, KindsAreTestedInOrderUntilTheFirstFailure) {
  dir_.WriteFile("a.c", "data");
  const std::string path = dir_ / "a.c";
  QualifierSet set;
  set.size = "eq(0)";
  set.time = "gt(2001-13-01)";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(PassesQualifiers(ctx_, path, set));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  set.size = "eq(4)";
  testing::internal::CaptureStdout();
  EXPECT_TRUE(PassesQualifiers(ctx_, path, set));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid month:  13.\n");

  // Without a known operator the comparison is still made (and reports), then the file fails.
  set.time = "GT(2001-13-01)";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(PassesQualifiers(ctx_, path, set));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid month:  13.\n");

  // A file that is gone fails every non-empty text, before any operand is read.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(TestQualifier(ctx_, QualifierKind::kTime, dir_ / "gone.c", "gt(2001-13-01)"));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(PassesQualifiers(ctx_, dir_ / "gone.c", QualifierSet{}));
}

// What -Why says of a failed qualifier: which one, and the two values it compared, as a person reads them.
TEST_F(OperandFileTest, AFailureSaysWhichQualifierAndBothValues) {
  dir_.WriteFile("a.c", "data");
  dir_.WriteFile("old.c", "x");
  SetWriteTime("a.c", 1000);
  SetWriteTime("old.c", 2000);
  const std::string path = dir_ / "a.c";
  struct Row {
    QualifierSet set;
    QualifierFailure expected;
  };
  const std::string aTime = FileTimeText(FileTimeOf(1000));
  const Row rows[] = {
      {{"gt(10)", "", "", ""}, {"/sizegt(10)", "4", "10"}},
      {{"", "gte(old.c)", "", ""}, {"/timegte(old.c)", aTime, FileTimeText(FileTimeOf(2000))}},
      {{"", "", "eq(0x1)", ""}, {"/compeq(0x1)", "0xADF3F363", "0x00000001"}},
      {{"", "", "", "eq(none.c)"}, {"/conteq(none.c)", "0xADF3F363", ""}},
  };
  for (const Row& row : rows) {
    QualifierFailure failure;
    EXPECT_FALSE(PassesQualifiers(ctx_, path, row.set, &failure));
    EXPECT_EQ(failure.qualifier, row.expected.qualifier);
    EXPECT_EQ(failure.file, row.expected.file) << row.expected.qualifier;
    EXPECT_EQ(failure.operand, row.expected.operand) << row.expected.qualifier;
  }
  QualifierFailure gone;
  EXPECT_FALSE(PassesQualifiers(ctx_, dir_ / "gone.c", {"gt(1)", "", "", ""}, &gone));
  EXPECT_EQ(gone.qualifier, "/sizegt(1)");
  EXPECT_EQ(gone.file, "");
}

}  // namespace
}  // namespace zelvane
