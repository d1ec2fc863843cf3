#include <gtest/gtest.h>

#include "platform/posix/posix_util.h"

namespace zelvane::platform::posix {
namespace {

TEST(RunnableTasks, FourthFieldBeforeTheSlash) {
  const struct {
    const char* text;
    int runnable;
  } rows[] = {
      {"0.52 0.31 0.20 3/127 4711\n", 3},
      {"12.00 9.50 4.25 17/2048 99999\n", 17},
      {"0.00 0.00 0.00 0/1 1", 0},
      {"0.52 0.31 0.20 x/127 4711\n", -1},
      {"0.52 0.31 0.20 3", -1},
      {"0.52 0.31", -1},
      {"", -1},
  };
  for (const auto& row : rows)
    EXPECT_EQ(RunnableTasks(row.text), row.runnable) << row.text;
}

}  // namespace
}  // namespace zelvane::platform::posix
