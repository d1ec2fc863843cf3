#include <windows.h>

#include "platform/console.h"

namespace zelvane::platform {

int ErrorTerminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace zelvane::platform
