#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace zelvane::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
  static unsigned counter = 0;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    const fs::path candidate =
        base / ("zelvane-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
    if (fs::create_directory(candidate)) {
      path_ = fs::canonical(candidate).string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

// Text as a program wrote it, its CR LF line ends read as LF (as the runs' output is).
std::string TempDir::ReadFile(const std::string& relative) const {
  std::ifstream in(*this / relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return WithoutCarriageReturns(s.str());
}

}  // namespace zelvane::test
