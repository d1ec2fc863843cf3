// Macro expansion over arbitrary templates, paths and settings. The first bytes choose the settings, the
// rest is "path NUL template NUL startDir". Stamps and checksums are given, so nothing but the harness's own
// empty directory is read.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "command/macros.h"
#include "command/run_settings.h"

namespace {

std::string emptyDir;

std::string_view NextField(std::string_view& rest) {
  const std::size_t end = rest.find('\0');
  const std::string_view field = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[] = "/tmp/zelvane-fuzz-macros-XXXXXX";
  if (mkdtemp(name) == nullptr) std::abort();
  emptyDir = name;
  std::atexit([] { rmdir(emptyDir.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  zelvane::RunSettings ctx;
  ctx.macroChar = static_cast<char>(data[0]);
  ctx.pathSeparator = static_cast<char>(data[1]);
  ctx.lowercase = data[2] & 1;
  const bool throughExpandMacros = (data[2] & 2) != 0;
  const int totalCount = static_cast<std::int8_t>(data[3]) * 1000003;
  const int fileNumber = static_cast<std::int8_t>(data[4]) * 999983;
  ctx.useAccessTime = data[5] & 1;
  std::string_view rest(reinterpret_cast<const char*>(data) + 6, size - 6);
  const std::string path(NextField(rest));
  const std::string templateText(NextField(rest));
  ctx.startDir = std::string(NextField(rest));

  // Splitting a path loses nothing.
  const zelvane::MacroParts parts = zelvane::SplitMacroParts(path);
  if (parts.drive + parts.directory + parts.baseName + parts.extension != path) std::abort();

  if (throughExpandMacros) {
    // The whole road, stamp lookups included, for names inside a directory that holds nothing; ".."
    // cannot climb out of it.
    std::string inside = path;
    for (std::size_t at = inside.find(".."); at != std::string::npos; at = inside.find(".."))
      inside[at] = '_';
    zelvane::ExpandMacros(ctx, emptyDir + "/" + inside, templateText);
    return 0;
  }

  zelvane::FileMacros file = zelvane::PrepareFileMacros(ctx, path);
  file.fileNumber = fileNumber;
  file.totalCount = totalCount;
  file.stamp = zelvane::FileStamp{"    1234", "01", "02", "2003", "04:05:06"};
  file.checksum = 0x1234ABCDu;
  file.eolBlindChecksum = 0u;
  const std::string expanded = zelvane::ExpandTemplate(ctx, file, templateText);
  // Text without the macro character comes through as it stands.
  if (templateText.find(ctx.macroChar) == std::string::npos && expanded != templateText) std::abort();
  return 0;
}
