// A temporary directory tree for tests that need a real disk: created fresh, removed with everything in it
// when the test ends. Shared by the unit tests and the end-to-end fixture.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace zelvane::test {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// A fresh directory below the system's temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Absolute path of a relative name inside the directory, every separator the native one.
  std::string operator/(const std::string& relative) const {
    std::string path = path_ + kSeparator + relative;
    if (kSeparator != '/') std::replace(path.begin() + path_.size(), path.end(), '/', kSeparator);
    return path;
  }

  void MakeDir(const std::string& relative) const;                                     // with parents
  void WriteFile(const std::string& relative, const std::string& content = "") const;  // parents too
  std::string ReadFile(const std::string& relative) const;  // on Win32 CR LF read as LF
  bool Exists(const std::string& relative) const;

 private:
  std::string path_;
};

// Each relative name as a full path inside `dir`, on a line of its own.
inline std::string PathLines(const TempDir& dir, const std::vector<std::string>& relative) {
  std::string out;
  for (const std::string& r : relative)
    out += dir / r + "\n";
  return out;
}

// The text with every CR LF read as LF, as a Win32 program's text files and output are compared.
std::string WithoutCarriageReturns(const std::string& text);

}  // namespace zelvane::test
