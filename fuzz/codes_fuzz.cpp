// Character codes against a literal, position-by-position rendering of the in-place rule: the one-pass
// conversion must give the same text for every input and code character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/command_line.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Walks i while i + 3 is below the current length, replacing a code in place and going on at i + 1.
std::string ConvertInPlace(std::string text, char codeChar) {
  if (text.size() <= 3) return text;
  for (std::size_t i = 0; i + 3 < text.size(); ++i) {
    if (text[i] == codeChar && IsDigit(text[i + 1]) && IsDigit(text[i + 2]) && IsDigit(text[i + 3])) {
      const int value = (text[i + 1] - '0') * 100 + (text[i + 2] - '0') * 10 + (text[i + 3] - '0');
      text[i] = static_cast<char>(static_cast<unsigned char>(value % 256));
      text.erase(i + 1, 3);
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char codeChar = static_cast<char>(data[0]);
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string expected = ConvertInPlace(text, codeChar);
  zelvane::ConvertCharacterCodes(text, codeChar);
  if (text != expected) std::abort();
  return 0;
}
