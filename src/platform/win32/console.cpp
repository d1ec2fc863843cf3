// The console: Zelvane's own text on standard output and standard error, and keys from standard input.
//
// Text goes to a console as UTF-16 (WriteConsoleW), so every name shows as it is. Redirected to a file or a
// pipe it is UTF-8, whatever the console's code page: a code page would turn a name it lacks into '?' and
// best-fit full-width quotes, '&' or '>' into real ones, so a list of commands written to a file would name
// other files or run other commands. "\n" is written as CR LF either way.
//
// Keys come from console key events when standard input is a console, else its bytes are the keys. A key
// beyond ASCII arrives as its UTF-8 bytes, the form text has inside the program.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/key_source.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {
namespace {

// One of the run-time library's standard streams, which keeps the buffering (and writes "\n" as CR LF);
// it is bypassed only for a console.
struct Output {
  std::FILE* stream;
  bool consoleFailed = false;
  int console = -1;  // whether the stream is a console; -1 until first asked
};

Output standardOutput{stdout};
Output standardError{stderr};

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

HANDLE HandleOf(const Output& out) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out.stream)));
}

bool WriteToConsole(HANDLE h, const std::wstring& text) {
  // In pieces, as old consoles take no more than about 64 KiB per call; never between the halves of a
  // surrogate pair.
  constexpr std::size_t kPiece = 8192;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t n = std::min(kPiece, text.size() - at);
    if (at + n < text.size() && text[at + n - 1] >= 0xD800 && text[at + n - 1] <= 0xDBFF) --n;
    DWORD written = 0;
    if (!WriteConsoleW(h, text.data() + at, static_cast<DWORD>(n), &written, nullptr) || written == 0)
      return false;
    at += written;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Text as UTF-8, every byte as the system reads it (see Wide).
std::string Utf8Text(std::string_view text) {
  return IsAscii(text) ? std::string(text) : win32::Utf8(win32::Wide(text));
}

void Write(Output& out, std::string_view text) {
  const HANDLE h = HandleOf(out);
  if (out.console < 0) out.console = IsConsole(h) ? 1 : 0;
  if (out.console == 1) {
    std::fflush(out.stream);
    std::wstring wide;
    for (wchar_t c : win32::Wide(text)) {
      if (c == L'\n') wide += L'\r';
      wide += c;
    }
    if (!WriteToConsole(h, wide)) out.consoleFailed = true;
    return;
  }
  if (IsAscii(text)) {
    std::fwrite(text.data(), 1, text.size(), out.stream);
    return;
  }
  const std::string bytes = Utf8Text(text);
  std::fwrite(bytes.data(), 1, bytes.size(), out.stream);
}

}  // namespace

std::string win32::RedirectedText(std::string_view text) {
  const std::string bytes = Utf8Text(text);
  std::string lines;
  lines.reserve(bytes.size() + 8);
  for (char c : bytes) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

void MakeWrittenText(std::string& text) {
  if (!IsAscii(text)) text = Utf8Text(text);
}

void FlushOutput() {
  std::fflush(stdout);
}

void WriteOut(std::string_view text) {
  Write(standardOutput, text);
}

void WriteErr(std::string_view text) {
  std::fflush(stdout);
  Write(standardError, text);
  std::fflush(stderr);
}

// The run-time library's own lock is left to it.
OutputHold::OutputHold() = default;
OutputHold::~OutputHold() = default;

bool OutputFailed() {
  return standardOutput.consoleFailed || std::ferror(stdout) != 0;
}

bool KeysFromTerminal() {
  return IsConsole(GetStdHandle(STD_INPUT_HANDLE));
}

// ---------------------------------------------------------------------------------------------------------

namespace keys {
namespace {

bool endOfInput = false;
std::string pendingBytes;  // the rest of a key beyond ASCII, in UTF-8
wchar_t highSurrogate = 0;

HANDLE Input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

int TakePending() {
  const auto c = static_cast<unsigned char>(pendingBytes.front());
  pendingBytes.erase(0, 1);
  return c;
}

// The character of a key press, or 0 for events that are no key press with a character.
wchar_t CharacterOf(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return 0;
  return record.Event.KeyEvent.uChar.UnicodeChar;
}

// Turns one character of a key into bytes: the first is returned, the rest wait in pendingBytes. The
// first half of a surrogate pair waits for the second; -1 while nothing is complete.
int KeyFromCharacter(wchar_t c) {
  if (c >= 0xD800 && c <= 0xDBFF) {
    highSurrogate = c;
    return -1;
  }
  std::wstring key;
  if (c >= 0xDC00 && c <= 0xDFFF && highSurrogate != 0) key += highSurrogate;
  highSurrogate = 0;
  key += c;
  pendingBytes += win32::Utf8(key);
  return TakePending();
}

// Drops console events that are not key presses with a character, and tells whether one is waiting.
bool ConsoleKeyWaiting(HANDLE h) {
  for (;;) {
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(h, &count) || count == 0) return false;
    INPUT_RECORD record;
    DWORD read = 0;
    if (!PeekConsoleInputW(h, &record, 1, &read) || read == 0) return false;
    if (CharacterOf(record) != 0) return true;
    ReadConsoleInputW(h, &record, 1, &read);
  }
}

// Waits for the next key press with a character, raw and without echo.
int ConsoleReadKey(HANDLE h) {
  DWORD oldMode = 0;
  GetConsoleMode(h, &oldMode);
  SetConsoleMode(h, 0);
  int key = -1;
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(h, &record, 1, &read) || read == 0) break;
    const wchar_t c = CharacterOf(record);
    if (c == 0) continue;
    key = KeyFromCharacter(c);
    if (key >= 0) break;
  }
  SetConsoleMode(h, oldMode);
  return key;
}

// Only the end of the input (a pipe whose writer is gone, the end of a file) ends the keys; another
// failure gives no key this time.
int ReadByte(HANDLE h) {
  unsigned char c = 0;
  DWORD got = 0;
  if (ReadFile(h, &c, 1, &got, nullptr)) {
    if (got == 1) return c;
    endOfInput = true;
    return -1;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) endOfInput = true;
  return -1;
}

}  // namespace

int TakeWaitingKey() {
  if (!pendingBytes.empty()) return TakePending();
  if (endOfInput) return -1;
  HANDLE h = Input();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
  if (IsConsole(h)) return ConsoleKeyWaiting(h) ? ConsoleReadKey(h) : -1;
  if (GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
      // A pipe that cannot be peeked (as a host pipe under Wine) is read when a key is needed.
      if (GetLastError() == ERROR_BROKEN_PIPE) endOfInput = true;
      return -1;
    }
    if (available == 0) return -1;
  }
  return ReadByte(h);
}

int WaitForKey() {
  if (!pendingBytes.empty()) return TakePending();
  if (endOfInput) return -1;
  HANDLE h = Input();
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
  if (IsConsole(h)) return ConsoleReadKey(h);
  return ReadByte(h);
}

}  // namespace keys

// Nothing to keep: a console's mode changes only for the moment one key is read, and no job is stopped by it.
void LeaveTerminalModeAlone() {}

}  // namespace zelvane::platform
