// The parts of the end-to-end fixture that are the same on every target.
#include <filesystem>
#include <fstream>

#include "e2e/e2e_fixture.h"

namespace zelvane::test {
namespace fs = std::filesystem;

void TempDir::MakeDir(const std::string& relative) const {
  fs::create_directories(*this / relative);
}

void TempDir::WriteFile(const std::string& relative, const std::string& content) const {
  const fs::path p = *this / relative;
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

bool TempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(*this / relative, ec));
}

RunResult RunZelvane(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{ZelvaneBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, options.cwd.empty() ? dir.path() : options.cwd, options);
}

}  // namespace zelvane::test
