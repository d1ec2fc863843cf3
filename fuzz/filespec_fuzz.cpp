// The Filespec language over arbitrary text: parsing must end, never read out of bounds, and only ever
// hand the search single specs that are not empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filespec/filespec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const zelvane::SearchStep& step : zelvane::ParseFilespec(text)) {
    if (step.spec.empty()) std::abort();
  }

  // Qualifiers are cut out of the text they stand in: what is left is never longer.
  std::string rest(text);
  std::string qualifier;
  while (zelvane::TakeQualifier("size", rest, qualifier)) {
    if (rest.size() >= text.size()) std::abort();
  }
  if (zelvane::TokenEnd(text) > text.size()) std::abort();
  return 0;
}
