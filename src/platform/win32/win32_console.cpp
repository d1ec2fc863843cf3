// Keys from standard input: console key events when it is a console, its bytes when it is a pipe or a file.
#include <windows.h>

#include "platform/key_source.h"
#include "platform/platform.h"

namespace zelvane::platform::keys {
namespace {

bool endOfInput = false;

HANDLE Input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

// Drops console events that are not key presses with a character, and tells whether one is waiting.
bool ConsoleKeyWaiting(HANDLE h) {
  for (;;) {
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(h, &count) || count == 0) return false;
    INPUT_RECORD record;
    DWORD read = 0;
    if (!PeekConsoleInputA(h, &record, 1, &read) || read == 0) return false;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        record.Event.KeyEvent.uChar.AsciiChar != 0) {
      return true;
    }
    ReadConsoleInputA(h, &record, 1, &read);
  }
}

int ConsoleReadKey(HANDLE h) {
  DWORD oldMode = 0;
  GetConsoleMode(h, &oldMode);
  SetConsoleMode(h, 0);
  int key = -1;
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputA(h, &record, 1, &read) || read == 0) break;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
        record.Event.KeyEvent.uChar.AsciiChar != 0) {
      key = static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
      break;
    }
  }
  SetConsoleMode(h, oldMode);
  return key;
}

int ReadByte(HANDLE h) {
  unsigned char c = 0;
  DWORD got = 0;
  if (!ReadFile(h, &c, 1, &got, nullptr) || got != 1) {
    endOfInput = true;
    return -1;
  }
  return c;
}

}  // namespace

int TakeWaitingKey() {
  if (endOfInput) return -1;
  HANDLE h = Input();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
  if (IsConsole(h)) return ConsoleKeyWaiting(h) ? ConsoleReadKey(h) : -1;
  if (GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
      endOfInput = true;  // the writer has closed the pipe and nothing is left
      return -1;
    }
    if (available == 0) return -1;
  }
  return ReadByte(h);
}

int WaitForKey() {
  if (endOfInput) return -1;
  HANDLE h = Input();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
  if (IsConsole(h)) return ConsoleReadKey(h);
  return ReadByte(h);
}

}  // namespace zelvane::platform::keys

namespace zelvane::platform {

// Nothing to keep: a console's mode changes only for the moment one key is read, and no job is stopped by it.
void LeaveTerminalModeAlone() {}

}  // namespace zelvane::platform
