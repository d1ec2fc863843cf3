#include "command/macros.h"

#include <cstdio>

#include "checksum/checksum.h"
#include "command/run_settings.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace zelvane {
namespace {

// On POSIX only '/': a '\\' in a file name is part of the name.
const platform::SeparatorRule IsSeparator;

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void LowerCase(std::string& text) {
  for (char& c : text)
    c = FoldCase(c);
}

void ReplaceSeparators(std::string& text, std::size_t from, char separator) {
  // Where '/' alone separates, putting '/' for it changes nothing: the rule on POSIX, asked for every file.
  if (separator == '/' && !IsSeparator('\\')) return;
  for (std::size_t i = from; i < text.size(); ++i) {
    if (IsSeparator(text[i])) text[i] = separator;
  }
}

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
  }
  return true;
}

// The volume at the start of a path: how much of the path's text it takes (MacroParts::root), and how $v
// shows it (MacroParts::drive).
struct Volume {
  std::size_t length = 0;
  std::string shown;
};

// Where the server or share name that begins at `from` ends: at the next separator, or npos when none
// follows or the name is empty.
std::size_t NameEnd(const std::string& path, std::size_t from) {
  std::size_t i = from;
  while (i < path.size() && !IsSeparator(path[i]))
    ++i;
  return i > from && i < path.size() ? i : std::string::npos;
}

// "D:" on both targets. Where paths have volumes (Win32) also \\server\share, and both of them in the
// \\?\ form that lifts the length limit, which $v shows plain: \\?\D: is D:, \\?\UNC\server\share is
// \\server\share. Any other path (\\?\Volume{...}, a \\.\ device) has none.
Volume VolumeOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return {2, path.substr(0, 2)};
  if (!platform::HasDriveLetters() || path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
    return {};
  std::size_t server = 2;
  if (path.compare(0, 4, "\\\\?\\") == 0) {
    if (path.size() >= 6 && path[5] == ':') return {6, path.substr(4, 2)};
    if (path.size() < 8 || !StartsWithFolded(path, "\\\\?\\UNC\\")) return {};
    server = 8;
  } else if (path[2] == '?' || path[2] == '.') {
    return {};
  }
  const std::size_t serverEnd = NameEnd(path, server);
  if (serverEnd == std::string::npos) return {};
  const std::size_t shareEnd = NameEnd(path, serverEnd + 1);
  if (shareEnd == std::string::npos) return {};
  if (server == 2) return {shareEnd, path.substr(0, shareEnd)};
  return {shareEnd, "\\\\" + path.substr(server, shareEnd - server)};
}

// $r: the directory relative to startDir, or drive and directory when the file lies elsewhere. The test
// uses the file's own path (never the completed bare name), without regard to case, and its volume as $v
// shows it, so a \\?\ path is below the start directory that its plain form is below. The start
// directory must end at a separator of the path: /home/meadow/x is not below /home/me. A startDir that
// ends in a separator (a root) is followed directly by the tail; any other by the separator first.
std::string RelativeDirectory(const RunSettings& ctx, const FileMacros& file) {
  const MacroParts& parts = file.parts;
  const std::string& start = ctx.startDir;
  const Volume volume = VolumeOf(file.path);
  const std::string path = volume.shown + file.path.substr(volume.length);
  const bool rootStart = !start.empty() && IsSeparator(start.back());
  const bool below = StartsWithFolded(path, start) &&
                     (rootStart || (path.size() > start.size() && IsSeparator(path[start.size()])));
  if (!below) return parts.drive + parts.directory;
  std::size_t from = start.size() + (rootStart ? 0 : 1);
  from = from > parts.drive.size() ? from - parts.drive.size() : 0;
  if (from >= parts.directory.size()) return std::string();
  return parts.directory.substr(from);
}

std::string ChecksumText(const FileMacros& file, bool eolBlind, std::optional<std::uint32_t>& cached) {
  if (!cached) {
    std::uint32_t crc = 0;
    // An unreadable file shows 0x00000000.
    if (ComputeChecksum(file.path, eolBlind, crc) != 0) crc = 0;
    cached = crc;
  }
  return zelvane::ChecksumText(*cached);
}

const FileStamp& StampOf(const RunSettings& ctx, FileMacros& file) {
  if (!file.stamp) file.stamp = GetFileStamp(ctx, file.path);
  return *file.stamp;
}

// $c: the file number, padded with spaces to as many characters as the count of files has digits.
std::string FileNumberText(const FileMacros& file) {
  const int width = std::snprintf(nullptr, 0, "%d", file.totalCount);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%*d", width, file.fileNumber);
  return buffer;
}

// Appends the expansion of macro letter `letter` (IsMacroLetter); false when the letter is not a macro.
bool AppendMacro(const RunSettings& ctx, FileMacros& file, char letter, std::string& out) {
  const MacroParts& p = file.parts;
  switch (letter) {
    case 'f':
      out += p.root;
      out += p.directory;
      out += p.baseName;
      out += p.extension;
      return true;
    case 'n':
      out += p.baseName;
      out += p.extension;
      return true;
    case 'b':
      out += p.baseName;
      return true;
    case 'e':
      out += p.extension;
      return true;
    case 'p':
      out += p.drive;
      out += p.directory;
      return true;
    case 'd':
      out += p.directory;
      return true;
    case 'r':
      out += RelativeDirectory(ctx, file);
      return true;
    case 'v':
      out += p.drive;
      return true;
    case 'S':
      out += StampOf(ctx, file).size;
      return true;
    case 'T':
      out += StampOf(ctx, file).time;
      return true;
    case 'D':
      out += StampOf(ctx, file).day;
      return true;
    case 'M':
      out += StampOf(ctx, file).month;
      return true;
    case 'Y':
      out += StampOf(ctx, file).year;
      return true;
    case 'C':
      out += std::to_string(file.totalCount);
      return true;
    case 'c':
      out += FileNumberText(file);
      return true;
    case 'k':
      out += ChecksumText(file, false, file.checksum);
      return true;
    case 'K':
      out += ChecksumText(file, true, file.eolBlindChecksum);
      return true;
    default:
      return false;
  }
}

// Looks up `prefix` and appends its last component: the 8.3 alternate name where there is one, else the
// path's own text from `from` to `to`, separators made native.
void AppendShortComponent(const std::string& path, const std::string& prefix, std::size_t from,
                          std::size_t to, std::string& out) {
  const char native = platform::NativeSeparator();
  platform::FindData data;
  if (!prefix.empty() && platform::GetEntryData(prefix, data) && !data.alternateName.empty()) {
    if (out.empty() && path.size() > 1 && path[1] == ':') out += path.substr(0, 2);
    out += native;
    out += data.alternateName;
    return;
  }
  for (std::size_t i = from; i < to; ++i)
    out += IsSeparator(path[i]) ? native : path[i];
}

}  // namespace

void SplitMacroParts(const std::string& path, MacroParts& parts) {
  Volume volume = VolumeOf(path);
  const std::size_t pos = volume.length;
  parts.root.assign(path, 0, pos);
  parts.drive = std::move(volume.shown);
  std::size_t lastSeparator = std::string::npos;
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) {
      lastSeparator = i - 1;
      break;
    }
  }
  std::size_t nameStart = pos;
  parts.directory.clear();
  if (lastSeparator != std::string::npos && lastSeparator >= pos) {
    nameStart = lastSeparator + 1;
    parts.directory.assign(path, pos, nameStart - pos);
  }
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= nameStart) {
    parts.baseName.assign(path, nameStart, dot - nameStart);
    parts.extension.assign(path, dot);
  } else {
    parts.baseName.assign(path, nameStart);
    parts.extension.clear();
  }
}

MacroParts SplitMacroParts(const std::string& path) {
  MacroParts parts;
  SplitMacroParts(path, parts);
  return parts;
}

std::string ShortenPath(const std::string& path) {
  std::string out;
  if (!platform::HasAlternateNames()) {
    // Nothing to look up: only the separators become native.
    out = path;
    for (char& c : out) {
      if (IsSeparator(c)) c = platform::NativeSeparator();
    }
    return out;
  }
  std::size_t marker = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (!IsSeparator(path[i])) continue;
    // The root separator of D:\ belongs to the drive.
    if (i > 0 && path[i - 1] == ':') continue;
    AppendShortComponent(path, path.substr(0, i), marker, i, out);
    marker = i;
  }
  AppendShortComponent(path, path, marker, path.size(), out);
  return out;
}

void PrepareFileMacros(const RunSettings& ctx, const std::string& path, FileMacros& file) {
  if (ctx.useShortNames) {
    file.path = ShortenPath(path);
  } else {
    file.path = path;
  }
  file.fileNumber = 0;
  file.totalCount = 0;
  file.stamp.reset();
  file.checksum.reset();
  file.eolBlindChecksum.reset();
  SplitMacroParts(file.path, file.parts);
  if (file.parts.directory.empty()) {
    // A bare name lies in the start directory.
    std::string completed = ctx.startDir;
    if (completed.empty() || !IsSeparator(completed.back())) completed += platform::NativeSeparator();
    completed += file.path;
    SplitMacroParts(completed, file.parts);
  }
  MacroParts& p = file.parts;
  if (ctx.lowercase) {
    LowerCase(p.root);
    LowerCase(p.drive);
    LowerCase(p.directory);
    LowerCase(p.baseName);
    LowerCase(p.extension);
  }
  if (ctx.pathSeparator != 0) {
    // The separators of a network volume too, but not those of the \\?\ form (\\?\ or \\?\UNC\ before
    // the volume's own text), which the system reads only as it stands.
    const std::size_t longForm = p.root == p.drive ? 0 : p.root.size() - p.drive.size() + 2;
    ReplaceSeparators(p.root, longForm, ctx.pathSeparator);
    ReplaceSeparators(p.drive, 0, ctx.pathSeparator);
    ReplaceSeparators(p.directory, 0, ctx.pathSeparator);
  }
}

FileMacros PrepareFileMacros(const RunSettings& ctx, const std::string& path) {
  FileMacros file;
  PrepareFileMacros(ctx, path, file);
  return file;
}

bool PathShowsAsItIs(const RunSettings& ctx, const std::string& path) {
  if (ctx.useShortNames || ctx.lowercase) return false;
  // -sep changes nothing when every separator of the path is its character already.
  if (ctx.pathSeparator != 0) {
    for (const char c : {'/', '\\'}) {
      if (c != ctx.pathSeparator && IsSeparator(c) && path.find(c) != std::string::npos) return false;
    }
  }
  // A separator at or after the volume ends the directory, which a bare name lacks.
  const std::size_t volume = VolumeOf(path).length;
  for (std::size_t i = path.size(); i > volume; --i) {
    if (IsSeparator(path[i - 1])) return true;
  }
  return false;
}

std::string FileDirectory(const RunSettings& ctx, const std::string& path) {
  const MacroParts parts = SplitMacroParts(path);
  if (parts.directory.empty()) return ctx.startDir;
  return parts.root + parts.directory;
}

std::string MacroText(const RunSettings& ctx, FileMacros& file, char letter) {
  std::string out;
  AppendMacro(ctx, file, letter, out);
  return out;
}

MacroValue MacroValues(const RunSettings& ctx, FileMacros& file) {
  return [&ctx, &file](char letter, std::string& out) { AppendMacro(ctx, file, letter, out); };
}

std::string ExpandTemplate(const RunSettings& ctx, FileMacros& file, std::string_view templateText) {
  return ExpandText(ParseTemplateText(templateText, ctx.macroChar), MacroValues(ctx, file));
}

std::string ExpandMacros(const RunSettings& ctx, const std::string& path, const std::string& templateText) {
  FileMacros file = PrepareFileMacros(ctx, path);
  return ExpandTemplate(ctx, file, templateText);
}

std::string ChecksumText(std::uint32_t checksum) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%.8X", static_cast<unsigned>(checksum));
  return buffer;
}

}  // namespace zelvane
