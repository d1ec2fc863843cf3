#include "platform/paths.h"

#include <gtest/gtest.h>

namespace zelvane::platform {
namespace {

// The rule kept as a value answers as the platform does, for every byte: code that tests each character
// of a path with it sees the same separators as code that asks.
TEST(SeparatorRule, AgreesWithThePlatformForEveryByte) {
  const SeparatorRule isSeparator;
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    EXPECT_EQ(isSeparator(c), IsPathSeparator(c)) << b;
  }
}

}  // namespace
}  // namespace zelvane::platform
