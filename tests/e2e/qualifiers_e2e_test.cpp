// The /size, /time, /comp and /cont qualifiers, run through the program over small trees with set sizes
// and timestamps. The environment has TZ=UTC, so calendar times below are UTC and local alike.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace {

struct Calendar {
  int year;
  unsigned month;
  unsigned day;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

std::int64_t UnixSeconds(const Calendar& c) {
  using namespace std::chrono;
  const sys_days days{year{c.year} / month{c.month} / day{c.day}};
  return days.time_since_epoch().count() * 86400LL + c.hour * 3600 + c.minute * 60 + c.second;
}

// Sets a file's last-write and last-access times.
#ifdef _WIN32
FILETIME FileTime(const Calendar& c) {
  // 100-ns ticks since 1601; 1970 lies 11644473600 seconds later.
  const std::uint64_t ticks = static_cast<std::uint64_t>(UnixSeconds(c) + 11644473600LL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

void SetTimes(const TempDir& dir, const std::string& relative, const Calendar& write,
              const Calendar& access) {
  HANDLE h = CreateFileA((dir / relative).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << relative;
  const FILETIME writeTime = FileTime(write), accessTime = FileTime(access);
  EXPECT_TRUE(SetFileTime(h, nullptr, &accessTime, &writeTime)) << relative;
  CloseHandle(h);
}
#else
void SetTimes(const TempDir& dir, const std::string& relative, const Calendar& write,
              const Calendar& access) {
  struct timespec times[2] = {};
  times[0].tv_sec = UnixSeconds(access);
  times[1].tv_sec = UnixSeconds(write);
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / relative).c_str(), times, 0), 0) << relative;
}
#endif

void WriteDated(const TempDir& dir, const std::string& relative, const Calendar& write,
                const std::string& content = "") {
  dir.WriteFile(relative, content);
  SetTimes(dir, relative, write, write);
}

// Runs with the Filespec and options given, and "echo $n" as the Command; returns what was printed.
std::string Names(const TempDir& dir, std::vector<std::string> args) {
  args.push_back("echo");
  args.push_back("$n");
  const RunResult r = RunZelvane(dir, args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  return r.out;
}

struct Case {
  std::vector<std::string> args;  // the Filespec, then options
  std::string expected;
};

void ExpectNames(const TempDir& dir, const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(Names(dir, c.args), c.expected) << c.args[0];
}

TEST(QualifiersE2eTest, UsageExamples) {
  TempDir dir;
  dir.WriteFile("a.sbr");
  dir.WriteFile("b.sbr", "x");
  dir.WriteFile("sub/c.sbr");
  dir.WriteFile("sub/d.obj");
  const RunResult sbr = RunZelvane(dir, {"/sizeeq(0) *.sbr", "-s", "echo", "$b.obj"});
  EXPECT_EQ(sbr.out, "a.obj\nc.obj\n");

  WriteDated(dir, "MY.EXE", {2001, 1, 1});
  WriteDated(dir, "old.c", {2000, 6, 1});
  WriteDated(dir, "new.c", {2002, 1, 1});
  const std::vector<std::string> newer = {
      "/timegt(MY.EXE) *.c", "echo", "$n", "is", "newer", "than", "MY.EXE."};
  EXPECT_EQ(RunZelvane(dir, newer).out, "new.c is newer than MY.EXE.\n");
  EXPECT_EQ(Names(dir, {"/timeeq(MY.EXE) *.c"}), "");

  // A missing operand file is below every file: gt passes all, eq none.
  std::filesystem::remove(dir / "MY.EXE");
  EXPECT_EQ(RunZelvane(dir, newer).out, "new.c is newer than MY.EXE.\nold.c is newer than MY.EXE.\n");
  EXPECT_EQ(Names(dir, {"/timeeq(MY.EXE) *.c"}), "");
}

TEST(QualifiersE2eTest, SizeOperators) {
  TempDir dir;
  dir.WriteFile("a99.dat", std::string(99, 'a'));
  dir.WriteFile("b100.dat", std::string(100, 'b'));
  dir.WriteFile("c101.dat", std::string(101, 'c'));
  ExpectNames(dir, {
                       {{"/sizeeq(100) *.dat"}, "b100.dat\n"},
                       {{"/sizene(100) *.dat"}, "a99.dat\nc101.dat\n"},
                       {{"/sizegte(100) *.dat"}, "b100.dat\nc101.dat\n"},
                       {{"/sizegt(100) *.dat"}, "c101.dat\n"},
                       {{"/sizelte(100) *.dat"}, "a99.dat\nb100.dat\n"},
                       {{"/sizelt(100) *.dat"}, "a99.dat\n"},
                       {{"/sizegt(b100.dat) *.dat"}, "c101.dat\n"},
                       {{"/sizeeq(0) *.dat"}, ""},
                   });
}

TEST(QualifiersE2eTest, FileNameOperandsExpandPerFileAndMayHoldBlanks) {
  TempDir dir;
  WriteDated(dir, "a.c", {2002, 1, 1});
  WriteDated(dir, "a.obj", {2001, 1, 1});
  WriteDated(dir, "b.c", {2000, 1, 1});
  WriteDated(dir, "b.obj", {2001, 1, 1});
  WriteDated(dir, "c.c", {2001, 1, 1});  // no c.obj
  WriteDated(dir, "sub/d.c", {2000, 1, 1});
  WriteDated(dir, "sub/d.obj", {2001, 1, 1});
  WriteDated(dir, "my file.exe", {2001, 6, 1});
  ExpectNames(dir, {
                       {{"/timegt($b.obj) *.c"}, "a.c\nc.c\n"},
                       // A bare name is looked up in the current directory, so d.obj is not found there.
                       {{"/timegt($b.obj) *.c", "-s"}, "a.c\nc.c\nd.c\n"},
                       {{"/timegt($p$b.obj) *.c", "-s"}, "a.c\nc.c\n"},
                       {{"/timegt('my file.exe') *.c"}, "a.c\n"},
#ifndef _WIN32  // typed on Win32 as \", which then does not stand in the raw line as the argument's text
                       {{"/timegt(\"my file.exe\") *.c"}, "a.c\n"},
#endif
                       {{"/timegt(my file.exe) *.c"}, "a.c\n"},
                       {{"/timelt(my*.exe) *.c"}, "b.c\nc.c\n"},
                   });
}

TEST(QualifiersE2eTest, ChecksumOperandFiles) {
  TempDir dir;
  dir.WriteFile("ref.txt", "one\r\ntwo\r\n");
  dir.WriteFile("crlf.txt", "one\r\ntwo\r\n");
  dir.WriteFile("lf.txt", "one\ntwo\n");
  dir.WriteFile("other.txt", "one\ntwo\nthree\n");
  ExpectNames(dir, {
                       {{"/compeq(ref.txt) *.txt"}, "crlf.txt\nref.txt\n"},
                       {{"/conteq(ref.txt) *.txt"}, "crlf.txt\nlf.txt\nref.txt\n"},
                       {{"/compne(ref.txt) *.txt"}, "lf.txt\nother.txt\n"},
                       {{"/contne(ref.txt) *.txt"}, "other.txt\n"},
                       {{"/compeq(ref.txt) /conteq(lf.txt) *.txt"}, "crlf.txt\nref.txt\n"},
                       {{"/compeq(missing.txt) *.txt"}, ""},
                   });
}

TEST(QualifiersE2eTest, ChecksumLiterals) {
  TempDir dir;
  dir.WriteFile("abc.dat", "abc");  // CRC-32 0x352441C2
  dir.WriteFile("abcd.dat", "abcd");
  dir.WriteFile("crlf.dat", "abc\r\n");
  ExpectNames(dir, {
                       {{"/compeq(0x352441C2) *.dat"}, "abc.dat\n"},
                       {{"/compeq(0X352441c2) *.dat"}, "abc.dat\n"},
                       {{"/conteq(0x352441C2) *.dat"}, "abc.dat\ncrlf.dat\n"},
                       {{"/compne(0x352441C2) *.dat"}, "abcd.dat\ncrlf.dat\n"},
                       // Capped at 0xFFFFFFFF rather than cut to 0, which would make it a file name.
                       {{"/compeq(0x100000000) *.dat"}, ""},
                       // 0x0 is no literal but a file name, and a missing one equals everything.
                       {{"/compeq(0x0) *.dat"}, "abc.dat\nabcd.dat\ncrlf.dat\n"},
                   });
  dir.WriteFile("0x0", "abcd");
  EXPECT_EQ(Names(dir, {"/compeq(0x0) *.dat"}), "abcd.dat\n");
}

TEST(QualifiersE2eTest, TimestampLiteralsWithSlopDstAndAccessTime) {
  TempDir dir;
  WriteDated(dir, "f1.t", {2001, 3, 6, 23, 59, 57});
  WriteDated(dir, "f2.t", {2001, 3, 7, 0, 0, 2});
  dir.WriteFile("f3.t");
  SetTimes(dir, "f3.t", {2001, 3, 7, 0, 0, 3}, {2001, 3, 5});
  WriteDated(dir, "noon.t", {2001, 3, 7, 0, 12, 0});
  ExpectNames(dir, {
                       {{"/timegt(2001-03-07) f?.t"}, "f3.t\n"},
                       {{"/timeeq(2001-03-07) f?.t"}, "f2.t\n"},
                       {{"/timelt(2001-03-07) f?.t"}, "f1.t\n"},
                       {{"/timeeq(2001-03-07) f?.t", "-TimeSlop0"}, ""},
                       {{"/timegt(2001-03-07) f?.t", "-TimeSlop0"}, "f2.t\nf3.t\n"},
                       // An operand one hour later than the file counts as equal; one hour earlier does not.
                       {{"/timeeq(2001-03-07 01:00:01) f?.t", "-ignoreDST"}, "f2.t\nf3.t\n"},
                       {{"/timeeq(2001-03-07 01:00:01) f?.t"}, ""},
                       {{"/timeeq(2001-03-06 23:00:02) f?.t", "-ignoreDST"}, ""},
                       {{"/timelt(2001-03-06) f?.t", "-a"}, "f3.t\n"},
                       {{"/timeeq(f3.t) f?.t", "-a"}, "f3.t\n"},
                       {{"/timeeq(f3.t) f?.t"}, "f2.t\nf3.t\n"},
                       // The 'T' is read as the hour, so this is 00:12:00.
                       {{"/timeeq(2001-03-07T12:00:00) *.t"}, "noon.t\n"},
                   });
}

TEST(QualifiersE2eTest, InvalidDatesReportOncePerFileAndCompareAsEarliest) {
  TempDir dir;
  WriteDated(dir, "a.t", {2000, 1, 1});
  WriteDated(dir, "b.t", {2000, 1, 1});
  ExpectNames(
      dir, {
               {{"/timegt(2001-13-01 00:00:00) *.t"}, "Invalid month:  13.\nInvalid month:  13.\na.t\nb.t\n"},
               {{"/timegt(2001-03-07 24:00:00) *.t"}, "a.t\nb.t\n"},
               {{"/timegt(01-03-07) *.t"}, "a.t\nb.t\n"},
               {{"/timeeq(2001-03-07 12:61:99) *.t"},
                "Invalid minutes: 61.\nInvalid seconds: 99.\nInvalid minutes: 61.\nInvalid seconds: 99.\n"},
           });
}

TEST(QualifiersE2eTest, UnknownOperatorFailsEveryFile) {
  TempDir dir;
  dir.WriteFile("a.c");
  dir.WriteFile("b.c", "x");
  ExpectNames(dir, {
                       {{"/sizeEQ(0) *.c"}, ""},
                       {{"/sizebad(0) *.c"}, ""},
                       {{"/compEQ(0x0) *.c"}, ""},
                       // Only the beginning is compared: gtx reads as gt.
                       {{"/sizegtx(0) *.c"}, "b.c\n"},
                   });
}

TEST(QualifiersE2eTest, QualifiersInTheXspec) {
  TempDir dir;
  dir.WriteFile("a.c");
  dir.WriteFile("b.c", "x");
  dir.WriteFile("c.h");
  EXPECT_EQ(Names(dir, {"*.c *.h", "-x/sizeeq(0) *.c"}), "b.c\nc.h\n");
}

TEST(QualifiersE2eTest, SizesBeyond4GiBCountWhole) {
  TempDir dir;
  dir.WriteFile("empty.bin");
  dir.WriteFile("small.bin", "x");
  dir.WriteFile("big.bin");
  std::filesystem::resize_file(dir / "big.bin", 1ULL << 32);  // sparse: takes no space
  ExpectNames(dir, {
                       {{"/sizeeq(0) *.bin"}, "empty.bin\n"},
                       {{"/sizeeq(4294967296) *.bin"}, "big.bin\n"},
                       {{"/sizegt(4294967295) *.bin"}, "big.bin\n"},
                       {{"/sizelt(99999999999999999999999) *.bin"}, "big.bin\nempty.bin\nsmall.bin\n"},
                       {{"/sizeeq(big.bin) *.bin"}, "big.bin\n"},
                   });
}

TEST(QualifiersE2eTest, TimesBefore1970AndFrom2038Compare) {
  TempDir dir;
  WriteDated(dir, "a.t", {1960, 1, 1, 0, 0, 0});
  WriteDated(dir, "b.t", {1960, 1, 1, 0, 1, 0});
  WriteDated(dir, "MY.EXE", {1960, 1, 1, 0, 0, 30});
  WriteDated(dir, "c.u", {2040, 1, 1});
  WriteDated(dir, "d.u", {2040, 1, 2});
  ExpectNames(dir, {
                       {{"/timegt(MY.EXE) *.t"}, "b.t\n"},
                       {{"/timelt(MY.EXE) *.t"}, "a.t\n"},
                       {{"/timeeq(MY.EXE) *.t"}, ""},
                       {{"/timegt(2040-01-01 12:00:00) *.u"}, "d.u\n"},
                       {{"/timelt(2040-01-01 12:00:00) *.u"}, "c.u\n"},
                       {{"/timeeq(2040-01-02) *.u"}, "d.u\n"},
                   });
}

#ifndef _WIN32  // POSIX file systems that hold any 64-bit count of seconds
// Times far beyond what a file time holds are clamped to its ends: a file from the year 60000 is later
// than every date, not one from 1601 (where the unclamped count would wrap to), and one from before 1601 is
// the earliest.
TEST(QualifiersE2eTest, FileTimesBeyondAFileTimeAreClamped) {
  // tmpfs keeps such times; the usual temporary directory may clamp them to its own narrower range.
  std::string dir = "/dev/shm/zelvane-test-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) GTEST_SKIP() << "no /dev/shm";
  struct Row {
    const char* name;
    std::int64_t seconds;  // since 1970
  };
  const Row rows[] = {{"future.t", 1833029933771LL}, {"past.t", -4000000000000LL}, {"now.t", 978307200}};
  bool held = true;
  for (const Row& row : rows) {
    const std::string path = dir + "/" + row.name;
    close(open(path.c_str(), O_WRONLY | O_CREAT, 0644));
    struct timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(row.seconds);
    struct stat st {};
    held = held && utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 && stat(path.c_str(), &st) == 0 &&
           st.st_mtim.tv_sec == row.seconds;
  }
  if (held) {
    const auto names = [&](const std::string& spec) {
      return RunProgram({ZelvaneBinary(), spec, "echo", "$n", "$Y-$M-$D", "$T"}, dir, {}).out;
    };
    EXPECT_EQ(names("/timelt(2020-01-01) *.t"), "now.t 2001-01-01 00:00:00\npast.t 1601-01-01 00:00:00\n");
    EXPECT_EQ(names("/timegt(2020-01-01) *.t"), "future.t 30828-09-14 02:48:05\n");
    EXPECT_EQ(names("/timegt(now.t) *.t"), "future.t 30828-09-14 02:48:05\n");
  }
  std::filesystem::remove_all(dir);
  if (!held) GTEST_SKIP() << "/dev/shm does not keep times this far out";
}
#endif

}  // namespace
}  // namespace zelvane::test
