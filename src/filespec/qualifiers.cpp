#include "filespec/qualifiers.h"

#include <limits>

#include "checksum/checksum.h"
#include "command/macros.h"
#include "command/run_settings.h"
#include "command/stamps.h"
#include "filespec/timestamp.h"
#include "platform/paths.h"

namespace zelvane {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The sign of (operand - found): +1 means the found file's value is the smaller one.
template <typename T>
int Sign(T operand, T found) {
  if (operand == found) return 0;
  return found < operand ? 1 : -1;
}

// The decimal number at the start of `text`, up to its first non-digit, saturating at the largest size.
std::uint64_t ReadSizeLiteral(std::string_view text) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (value > (kMax - digit) / 10) return kMax;
    value = value * 10 + digit;
  }
  return value;
}

// The checksum of a "0x" or "0X" literal, read up to the first non-hexadecimal character and capped at
// 0xFFFFFFFF. 0 when the text is no literal; a literal of value 0 is taken as a file name by the caller.
std::uint32_t ReadChecksumLiteral(std::string_view text) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 2; i < text.size() && HexValue(text[i]) >= 0; ++i) {
    value = value * 16 + static_cast<std::uint64_t>(HexValue(text[i]));
    if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  }
  return static_cast<std::uint32_t>(value);
}

std::uint64_t TimeOf(const RunSettings& ctx, const platform::FindData& entry) {
  return ctx.useAccessTime ? entry.lastAccessTime : entry.lastWriteTime;
}

bool HasWildcards(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

// The last checksum taken of an operand file, one for each mode. A qualifier such as /compeq(a.bak)
// names the same file for every file of a search; this way that file is read once rather than once per
// tested file. The value is used again only while the current directory, the name, the entry found for
// it, its size and its write time are all the same.
struct OperandChecksum {
  bool valid = false;
  std::string directory;
  std::string name;
  std::string foundName;
  std::uint64_t size = 0;
  std::uint64_t writeTime = 0;
  std::uint32_t checksum = 0;
};

std::uint32_t OperandFileChecksum(const std::string& name, const platform::FindData& found, bool eolBlind) {
  std::uint32_t checksum = 0;
  if (HasWildcards(name)) {
    // The name itself is read, not the wildcard's first match.
    ComputeChecksum(name, eolBlind, checksum);
    return checksum;
  }
  static OperandChecksum memo[2];
  OperandChecksum& last = memo[eolBlind ? 1 : 0];
  std::string directory;
  platform::GetCurrentDir(directory);
  if (last.valid && last.directory == directory && last.name == name && last.foundName == found.name &&
      last.size == found.size && last.writeTime == found.lastWriteTime) {
    return last.checksum;
  }
  ComputeChecksum(name, eolBlind, checksum);
  last = OperandChecksum{true, directory, name, found.name, found.size, found.lastWriteTime, checksum};
  return checksum;
}

}  // namespace

bool PassesQualifiers(const RunSettings& ctx, const std::string& path, const QualifierSet& set,
                      QualifierFailure* failure) {
  static constexpr struct {
    QualifierKind kind;
    std::string QualifierSet::*text;
    const char* keyword;
  } kOrder[] = {{QualifierKind::kSize, &QualifierSet::size, "/size"},
                {QualifierKind::kTime, &QualifierSet::time, "/time"},
                {QualifierKind::kComp, &QualifierSet::comp, "/comp"},
                {QualifierKind::kCont, &QualifierSet::cont, "/cont"}};
  for (const auto& q : kOrder) {
    if (TestQualifier(ctx, q.kind, path, set.*q.text, failure)) continue;
    if (failure != nullptr) failure->qualifier = q.keyword + set.*q.text;
    return false;
  }
  return true;
}

bool TestQualifier(const RunSettings& ctx, QualifierKind kind, const std::string& path, std::string_view text,
                   QualifierFailure* values) {
  if (text.empty()) return true;
  if (values != nullptr) *values = QualifierFailure{};
  // The found file's own entry, by its exact name; only an operand the user typed may be a wildcard.
  platform::FindData entry;
  if (!platform::GetEntryData(path, entry)) return false;
  const std::size_t open = text.find('(');
  const std::string_view operand = open == std::string_view::npos ? std::string_view() : text.substr(open);
  // The comparison is made even when no operator follows: a bad timestamp still reports itself.
  const int r = CompareOperand(ctx, kind, path, entry, operand, values);
  return OperatorPasses(text, r);
}

bool OperatorPasses(std::string_view text, int r) {
  if (text.starts_with("eq")) return r == 0;
  if (text.starts_with("ne")) return r != 0;
  if (text.starts_with("gte")) return r <= 0;
  if (text.starts_with("lte")) return r >= 0;
  if (text.starts_with("gt")) return r < 0;
  if (text.starts_with("lt")) return r > 0;
  return false;
}

int CompareOperand(const RunSettings& ctx, QualifierKind kind, const std::string& path,
                   const platform::FindData& entry, std::string_view operand, QualifierFailure* values) {
  // Without its parentheses (the last character is dropped whatever it is: an unclosed operand loses it).
  operand = operand.size() >= 2 ? operand.substr(1, operand.size() - 2) : std::string_view();
  const bool literal = !operand.empty() && IsDigit(operand[0]);
  OperandFile file;

  if (kind == QualifierKind::kSize || kind == QualifierKind::kTime) {
    const bool size = kind == QualifierKind::kSize;
    if (values != nullptr)
      values->file = size ? std::to_string(entry.size) : FileTimeText(TimeOf(ctx, entry));
    if (!literal && !ResolveOperandFile(ctx, path, operand, false, false, file)) return -1;
    const std::uint64_t operandValue = literal ? (size ? ReadSizeLiteral(operand) : ParseTimestamp(operand))
                                               : (size ? file.size : file.time);
    if (values != nullptr) values->operand = size ? std::to_string(operandValue) : FileTimeText(operandValue);
    return size ? Sign(operandValue, entry.size) : CompareTimes(ctx, operandValue, TimeOf(ctx, entry));
  }

  const bool eolBlind = kind == QualifierKind::kCont;
  // The found file is read only when its checksum is compared, or asked for.
  const auto foundChecksum = [&] {
    std::uint32_t checksum = 0;
    ComputeChecksum(path, eolBlind, checksum);
    if (values != nullptr) values->file = ChecksumText(checksum);
    return checksum;
  };
  std::uint32_t operandChecksum = literal ? ReadChecksumLiteral(operand) : 0;
  if (operandChecksum == 0) {
    // A missing file counts as unequal to everything, but as equal when its name began with a digit.
    if (!ResolveOperandFile(ctx, path, operand, true, eolBlind, file)) {
      if (values != nullptr) foundChecksum();
      return literal ? 0 : -1;
    }
    operandChecksum = file.checksum;
  }
  if (values != nullptr) values->operand = ChecksumText(operandChecksum);
  return Sign(operandChecksum, foundChecksum());
}

bool ResolveOperandFile(const RunSettings& ctx, const std::string& path, std::string_view operand,
                        bool wantChecksum, bool eolBlind, OperandFile& out) {
  out = OperandFile{};
  if (!operand.empty() && (operand[0] == '"' || operand[0] == '\'')) {
    const char quote = operand[0];
    operand.remove_prefix(1);
    while (!operand.empty() && operand.back() == quote)
      operand.remove_suffix(1);
  }
  const std::string name = ExpandMacros(ctx, path, std::string(operand));
  platform::FindData found;
  if (!platform::FindFirst(name, found)) return false;
  out.size = found.size;
  out.time = TimeOf(ctx, found);
  if (wantChecksum) out.checksum = OperandFileChecksum(name, found, eolBlind);
  return true;
}

}  // namespace zelvane
