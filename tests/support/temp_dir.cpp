// The parts of TempDir that are the same on every target.
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>

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

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') out += text[i];
  return out;
}

}  // namespace zelvane::test
