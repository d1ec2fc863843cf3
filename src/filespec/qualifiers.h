// Testing a found file against the qualifier texts of /size, /time, /comp and /cont.
//
// A qualifier text is an operator followed by its parenthesised operand ("gte(100)", "gt(MY.EXE)"). It is
// read anew for every file tested, so macros in a file-name operand refer to that file, and a bad
// timestamp reports itself once for each file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filespec/filespec.h"
#include "platform/files.h"

namespace zelvane {

struct RunSettings;

enum class QualifierKind { kSize, kTime, kComp, kCont };

// What a qualifier that failed compared, as a person reads it: the qualifier ("/sizegt(100)", written with
// '/' whichever sign was typed),
// the found file's value and the operand's (sizes in bytes, times as "YYYY-MM-DD HH:MM:SS" in local time,
// checksums as $k writes them). `file` is empty when the file could no longer be looked up, `operand`
// when no operand file was found.
struct QualifierFailure {
  std::string qualifier;
  std::string file;
  std::string operand;
};

// True when the file passes the size, time, comp and cont texts, tested in that order; the first failure
// ends the test, and with `failure` says what it compared. An empty text passes.
bool PassesQualifiers(const RunSettings& ctx, const std::string& path, const QualifierSet& set,
                      QualifierFailure* failure = nullptr);

// One qualifier text of one kind. False when the file can no longer be looked up or the text begins with
// no known operator. With `values`, the two values compared are written there.
bool TestQualifier(const RunSettings& ctx, QualifierKind kind, const std::string& path, std::string_view text,
                   QualifierFailure* values = nullptr);

// Whether comparison result `r` satisfies the operator at the start of `text` ("eq", "ne", "gte", "lte",
// "gt", "lt", tried in this order, case-sensitive, only the beginning compared). False when the text
// begins with none of them.
bool OperatorPasses(std::string_view text, int r);

// The sign of (operand value - found file's value): -1, 0 or +1. `operand` is the text from the first '('
// to the end, parentheses included. `entry` is the found file's directory entry. With `values`, the
// two values compared are written there.
int CompareOperand(const RunSettings& ctx, QualifierKind kind, const std::string& path,
                   const platform::FindData& entry, std::string_view operand,
                   QualifierFailure* values = nullptr);

// What a file-name operand gives.
struct OperandFile {
  std::uint64_t size = 0;
  std::uint64_t time = 0;      // last-write time, or last-access time under -a
  std::uint32_t checksum = 0;  // when wanted; 0 when the file cannot be read
};

// Looks up the file that `operand` names (quotes removed, macros expanded for `path`, a relative name
// taken from the current directory, a wildcard name by its first match). False when there is none; `out`
// then holds zeros.
bool ResolveOperandFile(const RunSettings& ctx, const std::string& path, std::string_view operand,
                        bool wantChecksum, bool eolBlind, OperandFile& out);

}  // namespace zelvane
