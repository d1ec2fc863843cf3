// Expanding the Command template (and -xo names, and qualifier file names) for one file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "command/command_template.h"
#include "command/stamps.h"

namespace zelvane {

struct RunSettings;

// The parts of a file path; root, directory, baseName and extension concatenated give the path back.
struct MacroParts {
  // The volume as the path spells it ($f keeps it, since that form is the one that reaches the file):
  // "D:", and on Win32 also \\server\share, \\?\D: or \\?\UNC\server\share; else empty.
  std::string root;
  // The volume as $v shows it: the root without its \\?\ form ("D:", \\server\share).
  std::string drive;
  std::string directory;  // up to and including the last separator (platform::IsPathSeparator)
  std::string baseName;   // up to the last dot after the directory
  std::string extension;  // from that dot, included
};

// Splits a path into its MacroParts. Pure.
MacroParts SplitMacroParts(const std::string& path);
// The same into `parts`, reusing its storage.
void SplitMacroParts(const std::string& path, MacroParts& parts);

// The path with each component replaced by its 8.3 alternate name where the file system has one; kept
// components (and components that cannot be looked up) keep their text. Separators come out native.
std::string ShortenPath(const std::string& path);

// What the macros of one file expand from, worked out once and reused for every template of the file.
// The stamp and the checksums are looked up when a template first needs them.
struct FileMacros {
  std::string path;    // as the caller holds it, or shortened with -8; the base of $r, stamps, checksums
  MacroParts parts;    // completed when bare, lower-cased with -lowercase, separators replaced with -sep
  int fileNumber = 0;  // $c: set by the run that numbers the file; 0 elsewhere (a qualifier's file name)
  int totalCount = 0;  // $C: the files of the run
  std::optional<FileStamp> stamp;
  std::optional<std::uint32_t> checksum;          // $k
  std::optional<std::uint32_t> eolBlindChecksum;  // $K
};

// Shortens (-8), splits, completes a bare name with startDir, lower-cases and replaces separators. Touches
// the disk only with -8.
FileMacros PrepareFileMacros(const RunSettings& ctx, const std::string& path);
// The same into `file`, reusing its storage; nothing of the file it held before is kept.
void PrepareFileMacros(const RunSettings& ctx, const std::string& path, FileMacros& file);

// Whether $f shows `path` exactly as it stands, so a Command that needs nothing else of the file can use it
// without PrepareFileMacros: not a bare name, and no -8, no -lowercase and no separator that -sep replaces.
bool PathShowsAsItIs(const RunSettings& ctx, const std::string& path);

// The directory the file `path` lies in, as the match list holds it: the path up to its last separator
// (that separator kept), or the start directory for a bare name. Display options (-8, -lowercase, -sep)
// change what the macros show, never this.
std::string FileDirectory(const RunSettings& ctx, const std::string& path);

// The values of the macros of the prepared file, for ExpandText and ExpandPart.
MacroValue MacroValues(const RunSettings& ctx, FileMacros& file);

// The expansion of the one macro `letter` for the prepared file: 'f' gives the path as $f shows it.
std::string MacroText(const RunSettings& ctx, FileMacros& file, char letter);

// Expands every macro of `templateText` for the prepared file. No side effects but the lookups of the stamp
// and the checksums on first use.
std::string ExpandTemplate(const RunSettings& ctx, FileMacros& file, std::string_view templateText);

// Expands every macro of `templateText` for the file `path` (a qualifier's file name, say). Changes neither
// the current directory nor the environment.
std::string ExpandMacros(const RunSettings& ctx, const std::string& path, const std::string& templateText);

// A checksum as $k and $K write it: "0x" and eight upper-case hexadecimal digits.
std::string ChecksumText(std::uint32_t checksum);

}  // namespace zelvane
