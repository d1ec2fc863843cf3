// The console: Zelvane's own text on standard output and standard error, and keys from standard input.
#pragma once

#include <string>
#include <string_view>

namespace zelvane::platform {

// Flushes what the program wrote to standard output, so it stands before anything a child writes.
void FlushOutput();

// Zelvane's own text on standard output and standard error. Every message goes through here, so the
// layer alone decides how text reaches the console (on Win32: as UTF-16 to a console, as UTF-8 to a file or
// a pipe, never in a code page that would turn a name into another). "\n" ends a line as the platform
// writes text.
void WriteOut(std::string_view text);
void WriteErr(std::string_view text);

// Makes `text` what WriteOut sends to a file or a pipe (before line ends), for the text Zelvane writes to
// a file of its own (-xo), so all of them hold the same bytes: UTF-8. On Win32 a byte that begins no UTF-8
// sequence (as a character code yields) becomes the character the system takes it for everywhere else;
// on POSIX the text stays as it is.
void MakeWrittenText(std::string& text);

// Whether a write to standard output has failed (a pipe nobody reads, a full disk).
bool OutputFailed();

// Standard output held by the thread that makes it, for as long as it lives: another thread's write waits
// until it ends, so this thread's WriteOut and OutputFailed need not take the stream's lock each time, as
// they otherwise do, twice for each line of a run over a million files. For a stretch that starts no child.
class OutputHold {
 public:
  OutputHold();
  ~OutputHold();
  OutputHold(const OutputHold&) = delete;
  OutputHold& operator=(const OutputHold&) = delete;
};

// The width of the terminal standard error is, in columns; 0 when standard error is no terminal (a status
// line is then never written).
int ErrorTerminalWidth();

// ---------------------------------------------------------------------------------------------------------
// Console keys (from standard input; see the rules on terminals, pipes and end of input)

// A terminal is read only while the process is in its foreground: in the background no key is waiting and a
// read returns -1 at once, as at the end of input, and the terminal's mode is never changed from there.

// The key that is waiting, the pushed-back one first, left for the next WaitingKey / ReadKey; -1 when none
// is. Never blocks, and writes nothing out: a run that looks for its abort key after every file does not
// flush its output each time a user has typed another key ahead.
int WaitingKey();

// Whether the keys come from a terminal or console, that is from a person typing, rather than a pipe or a
// file.
bool KeysFromTerminal();

// Reads one key without echo, the pushed-back one first. Returns -1 at the end of input (no key).
int ReadKey();

// Hands one key back for the next WaitingKey / ReadKey. There is room for one only.
void PushBackKey(int key);

// From now on keys are taken from a terminal as it is set (a line at a time, echoed), never by switching it
// to raw input: -Batch asks nothing, so it leaves the terminal's mode alone. Nothing to do on Win32.
void LeaveTerminalModeAlone();

}  // namespace zelvane::platform
