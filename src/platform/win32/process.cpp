// Children, started with CreateProcessW (a UTF-16 command line, the Unicode environment block, a starting
// directory, and either the console or a capture), and one wait for whichever ends. A capture is an
// anonymous pipe per stream, drained by a reader thread of its own, so no wait ever needs more handles than
// WaitForMultipleObjects takes: reader threads and the waits registered for the children's ends set one
// event, the only handle WaitForAny waits on. Names cross the edge as UTF-16.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/child_text.h"
#include "platform/console.h"
#include "platform/processes.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

namespace {

// What a capture holds in memory before the rest goes to a temporary file, as on POSIX.
constexpr std::size_t kCaptureMemory = std::size_t{128} * 1024;

// The pipe's own buffer and one read: large enough that a child printing a lot seldom waits for the reader.
constexpr DWORD kPipeBuffer = 64 * 1024;

// A reader thread needs little stack: its buffer lives on the heap.
constexpr SIZE_T kReaderStack = 64 * 1024;

// CreateProcessW's command line holds at most 32,767 characters, its terminating NUL included; cmd.exe
// reads at most 8,191 of its own line, and would run what it read. Both are counted in UTF-16 units.
constexpr std::size_t kMaxCommandLine = 32767 - 1;
constexpr std::size_t kMaxShellLine = 8191;

// The exit code of a console program that Ctrl-C ended (STATUS_CONTROL_C_EXIT).
constexpr DWORD kControlCExit = 0xC000013Au;

thread_local bool lastWasShortage = false;
thread_local bool lastWasTooLong = false;

bool IsShortage(DWORD error) {
  return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY ||
         error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES || error == ERROR_NOT_ENOUGH_QUOTA;
}

// Records whether the last failure was for want of a resource.
void NoteFailure() {
  lastWasShortage = IsShortage(GetLastError());
  lastWasTooLong = false;
}

// A failure that no wait would mend.
void NoteRefusal(bool tooLong = false) {
  lastWasShortage = false;
  lastWasTooLong = tooLong;
}

// Set by every reader thread that sees its pipe end, every child's end and every deferred console event;
// WaitForAny then looks at what it waits for. Auto-reset: a wake-up set while nobody waits is kept for the
// next wait, so none is lost.
HANDLE WakeEvent() {
  static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

void Wake() {
  if (WakeEvent() != nullptr) SetEvent(WakeEvent());
}

// Console control events from DeferEndingSignals on; both are read by the handler's thread too.
volatile LONG deferSignals = 0;
volatile LONG pendingSignal = 0;

bool WriteAll(HANDLE h, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// The directory temporary files go to, without the separator that ends it (a drive's root keeps it).
std::wstring TemporaryDirectory() {
  std::vector<wchar_t> dir(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    if (n == 0) return std::wstring();
    if (n < dir.size()) {
      std::wstring path(dir.data(), n);
      while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
      return path;
    }
    dir.resize(n + 1);
  }
}

// A temporary file in `dir` that is deleted when its last handle closes; INVALID_HANDLE_VALUE with the
// last error set when it cannot be made. Never inherited.
HANDLE CreateSpill(const std::wstring& dir) {
  static volatile LONG serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring name = win32::LongForm(win32::FullPath(dir));
    if (!name.empty() && name.back() != L'\\') name += L'\\';
    name += L"zelvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&serial)) + L".tmp";
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

// One stream of a capture: its pipe, and what came through it. The reader thread and the run share it, each
// holding a reference; `lock` guards everything but `write`, which only the run touches.
struct CaptureStream {
  SRWLOCK lock = SRWLOCK_INIT;
  volatile LONG references = 1;
  HANDLE read = nullptr;   // the reader thread's, once it runs
  HANDLE write = nullptr;  // this process's writing end; nullptr once input is closed
  bool ended = false;      // every writer has let go
  bool abandoned = false;  // the capture was closed: what still comes is dropped
  std::string memory;
  HANDLE spill = INVALID_HANDLE_VALUE;  // the temporary file beyond kCaptureMemory
  std::string failure;                  // why what came through could not be kept
  bool failureSaid = false;
  // Once the capture's block is the oldest and has gone out as far as it came, what comes after goes
  // straight to this handle (standard output or error), as it would with one command at a time.
  HANDLE direct = nullptr;
  bool directFailed = false;

  ~CaptureStream() {
    for (HANDLE h : {read, write})
      if (h != nullptr) CloseHandle(h);
    if (spill != INVALID_HANDLE_VALUE) CloseHandle(spill);
  }

  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }

  void SpillFailed(const std::wstring& dir, DWORD error) {
    failure = "Could not write \"" + win32::Utf8(dir) + "\": " + win32::ErrorText(error) + ".\n";
  }

  // Keeps `size` bytes: in memory while there is room, then in the temporary file; or writes them out.
  // Under the lock.
  void Keep(const char* data, std::size_t size) {
    if (direct != nullptr) {
      if (!directFailed && !WriteAll(direct, data, size)) directFailed = true;
      return;
    }
    if (!failure.empty()) return;
    if (spill == INVALID_HANDLE_VALUE && memory.size() + size <= kCaptureMemory) {
      memory.append(data, size);
      return;
    }
    if (spill == INVALID_HANDLE_VALUE) {
      const std::wstring dir = TemporaryDirectory();
      spill = CreateSpill(dir);
      if (spill == INVALID_HANDLE_VALUE || !WriteAll(spill, memory.data(), memory.size())) {
        SpillFailed(dir, GetLastError());
        return;
      }
      std::string().swap(memory);
    }
    if (!WriteAll(spill, data, size)) SpillFailed(TemporaryDirectory(), GetLastError());
  }

  // Writes what is held to `out` and lets go of it, so the next call writes only what came after. Under
  // the lock.
  bool CopyTo(HANDLE out) {
    if (spill == INVALID_HANDLE_VALUE) {
      const bool written = WriteAll(out, memory.data(), memory.size());
      memory.clear();
      return written;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(spill, start, nullptr, FILE_BEGIN)) return false;
    static std::vector<char> buffer(1 << 20);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(spill, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
      if (got == 0) break;
      if (!WriteAll(out, buffer.data(), got)) return false;
    }
    return SetFilePointerEx(spill, start, nullptr, FILE_BEGIN) && SetEndOfFile(spill);
  }
};

class Locked {
 public:
  explicit Locked(CaptureStream& stream) : lock_(stream.lock) { AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

// Reads the stream's pipe until every writer has let go; what comes is kept, or written out once the block
// is the oldest.
DWORD WINAPI ReadCapture(void* parameter) {
  auto* stream = static_cast<CaptureStream*>(parameter);
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kPipeBuffer]);
  for (;;) {
    DWORD got = 0;
    // ERROR_BROKEN_PIPE: the last writer let go.
    if (buffer == nullptr || !ReadFile(stream->read, buffer.get(), kPipeBuffer, &got, nullptr)) break;
    if (got == 0) continue;
    const Locked locked(*stream);
    if (!stream->abandoned) stream->Keep(buffer.get(), got);
  }
  {
    const Locked locked(*stream);
    // A writer still about fails from now on instead of waiting for a reader.
    CloseHandle(stream->read);
    stream->read = nullptr;
    stream->ended = true;
  }
  Wake();
  stream->Release();
  return 0;
}

// A pipe whose reading end a new thread drains; nullptr when either cannot be made (see NoteFailure).
CaptureStream* CreateStream() {
  auto* stream = new (std::nothrow) CaptureStream;
  if (stream == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    NoteFailure();
    return nullptr;
  }
  // Neither end is inheritable: a child gets a copy of the writing end for itself alone.
  if (WakeEvent() == nullptr || !CreatePipe(&stream->read, &stream->write, nullptr, kPipeBuffer)) {
    NoteFailure();
    stream->Release();
    return nullptr;
  }
  stream->references = 2;
  const HANDLE thread =
      CreateThread(nullptr, kReaderStack, ReadCapture, stream, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    NoteFailure();
    stream->references = 1;
    stream->Release();
    return nullptr;
  }
  CloseHandle(thread);
  return stream;
}

// Lets go of a stream from the run's side: its writing end is closed, what still comes is dropped, and the
// reader thread frees it once its pipe ends.
void CloseStream(CaptureStream* stream) {
  if (stream == nullptr) return;
  if (stream->write != nullptr) CloseHandle(stream->write);
  stream->write = nullptr;
  {
    const Locked locked(*stream);
    stream->abandoned = true;
    std::string().swap(stream->memory);
    if (stream->spill != INVALID_HANDLE_VALUE) CloseHandle(stream->spill);
    stream->spill = INVALID_HANDLE_VALUE;
  }
  stream->Release();
}

// The process's environment block with `overrides` replacing or adding variables.
std::vector<wchar_t> ChildEnvironment(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> base;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';) {
    const std::size_t length = wcslen(entry);
    base.push_back(win32::Utf8(std::wstring_view(entry, length)));
    entry += length + 1;
  }
  if (strings != nullptr) FreeEnvironmentStringsW(strings);
  std::vector<wchar_t> block;
  for (const std::string& entry : MergeEnvironment(base, overrides, /*ignoreCase=*/true)) {
    const std::wstring wide = win32::Wide(entry);
    block.insert(block.end(), wide.begin(), wide.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

// An inheritable copy of `h` for one child's standard handle; closed again once the child has started.
HANDLE InheritableCopy(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  return copy;
}

bool IsFullName(const std::string& name) {
  return (!name.empty() && (name[0] == '\\' || name[0] == '/')) || (name.size() >= 2 && name[1] == ':');
}

// Whether a component of `path` ends in '.' or a blank (other than "." and ".."): Windows drops those from
// a plain path, so such a directory is reachable only in the \\?\ form, which no child can start in.
bool HasRewrittenComponent(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    const std::string_view part(path.data() + start, i - start);
    if (!part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' '))
      return true;
    start = i + 1;
  }
  return false;
}

// A path typed in the \\?\ form as a child's current directory must be handed over: without the prefix.
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() >= 6 && path[5] == L':') return path.substr(4);
  return path;
}

bool IsUncPath(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) return true;
  return full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\' && full.rfind(L"\\\\?\\", 0) != 0 &&
         full.rfind(L"\\\\.\\", 0) != 0;
}

// Ctrl-C, Ctrl-Break and closing the console, while deferred: recorded for WaitForAny, which the event
// wakes. Any other event, or one after the first was reported, takes its default course (the process ends
// with STATUS_CONTROL_C_EXIT).
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  if (InterlockedCompareExchange(&deferSignals, 0, 0) == 0) return FALSE;
  InterlockedExchange(&pendingSignal, static_cast<LONG>(type) + 1);
  Wake();
  // The system ends the process once this returns from a close: the run ends its children and writes what
  // they printed first, then ends the process itself (the system gives it a few seconds).
  if (type == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}

// Whether a console event was deferred and not yet reported; reporting it ends the deferral, so a second
// one ends the process at once.
bool TakeDeferredSignal() {
  if (InterlockedCompareExchange(&pendingSignal, 0, 0) == 0) return false;
  return InterlockedExchange(&deferSignals, 0) != 0;
}

VOID CALLBACK ChildEnded(void*, BOOLEAN) {
  Wake();
}

}  // namespace

struct Capture {
  CaptureStream* output = nullptr;
  CaptureStream* error = nullptr;  // nullptr when the two streams are one
  CaptureStream* ErrorStream() const { return error != nullptr ? error : output; }
};

// Held open, so the directory cannot be removed, renamed or replaced while children may start in it.
struct StartDir {
  std::wstring path;  // full path, as the children are handed it
  HANDLE handle;
};

struct Child {
  HANDLE process;
  HANDLE job;   // the job object of a child started with a capture; nullptr where none could be made
  HANDLE wait;  // the registered wait that wakes WaitForAny at its end; nullptr: WaitForAny polls
  bool captured;
};

std::wstring win32::LocateProgram(const std::string& name) {
  const std::wstring given = OsPath(name);
  const DWORD attributes = GetFileAttributesW(given.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return given;
  const std::wstring wide = Wide(name);
  std::wstring found(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < found.size()) {
      found.resize(n);
      return found;
    }
    found.resize(n);
  }
}

namespace {

// The program a child starts: with a starting directory, a relative name is looked for there first, as it
// would be after a change of directory; then as LocateProgram finds it.
std::wstring ProgramFor(const std::string& name, const StartDir* directory) {
  if (directory != nullptr && !IsFullName(name)) {
    std::wstring inside = directory->path;
    if (!inside.empty() && inside.back() != L'\\') inside += L'\\';
    inside += win32::Wide(name);
    for (const std::wstring& candidate : {inside, inside + L".exe"}) {
      const DWORD attributes = GetFileAttributesW(win32::LongForm(candidate).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
    }
  }
  return win32::LocateProgram(name);
}

// The handles a captured child inherits, and nothing else: its standard handles, made inheritable for it
// alone and closed once it started.
struct ChildHandles {
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  HANDLE error = nullptr;
  std::vector<HANDLE> list;

  ~ChildHandles() {
    for (HANDLE h : {input, output, error})
      if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool Make(const Capture& capture) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) input = nullptr;
    output = InheritableCopy(capture.output->write);
    // One stream: the same copy serves both, so the list names each handle once.
    error = capture.error != nullptr ? InheritableCopy(capture.error->write) : nullptr;
    if (output == nullptr || (capture.error != nullptr && error == nullptr)) return false;
    for (HANDLE h : {input, output, error})
      if (h != nullptr) list.push_back(h);
    return true;
  }
};

}  // namespace

int ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

bool OutputAndErrorAreOneFile() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || err == nullptr || err == INVALID_HANDLE_VALUE)
    return false;
  if (out == err) return true;
  const DWORD type = GetFileType(out);
  if (type != GetFileType(err)) return false;
  DWORD mode = 0;
  // A process has one console.
  if (GetConsoleMode(out, &mode) && GetConsoleMode(err, &mode)) return true;
  if (type != FILE_TYPE_DISK) {
    // Two handles to one pipe (as 2>&1 leaves them) have no file identity to compare; Windows 10 can say
    // whether they are the same object.
    using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
    const HMODULE kernel = GetModuleHandleW(L"kernelbase.dll");
    const auto compare = kernel != nullptr ? reinterpret_cast<Compare>(reinterpret_cast<void*>(
                                                 GetProcAddress(kernel, "CompareObjectHandles")))
                                           : nullptr;
    return compare != nullptr && compare(out, err) != FALSE;
  }
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (!GetFileInformationByHandle(out, &a) || !GetFileInformationByHandle(err, &b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool WasShortage() {
  return lastWasShortage;
}

bool WasTooLong() {
  return lastWasTooLong;
}

std::size_t CommandLineRoom(bool shellLine) {
  // The shell line also holds the shell's own path and " /c ": a margin of a long path covers them.
  return shellLine ? kMaxShellLine - MAX_PATH - 8 : kMaxCommandLine;
}

std::size_t WordCost(std::string_view word, bool shellLine) {
  const std::wstring wide = win32::Wide(shellLine ? std::string(word) : QuoteCommandWord(word));
  return wide.size() + 1;
}

CaptureHandle CreateCapture(bool oneStream) {
  auto* capture = new Capture;
  capture->output = CreateStream();
  if (capture->output != nullptr && !oneStream) capture->error = CreateStream();
  if (capture->output == nullptr || (!oneStream && capture->error == nullptr)) {
    CloseCapture(capture);
    return kNoCapture;
  }
  return capture;
}

void WriteToCapture(CaptureHandle capture, std::string_view text, bool toError) {
  if (capture == kNoCapture) return;
  // Through the pipe, behind everything the file's children wrote into it so far; the reader thread drains
  // it, so this never waits for the run itself.
  CaptureStream* stream = toError ? capture->ErrorStream() : capture->output;
  if (stream->write == nullptr) return;
  const std::string bytes = win32::RedirectedText(text);
  WriteAll(stream->write, bytes.data(), bytes.size());
}

void CloseCaptureInput(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  for (CaptureStream* stream : {capture->output, capture->error}) {
    if (stream == nullptr || stream->write == nullptr) continue;
    CloseHandle(stream->write);
    stream->write = nullptr;
  }
}

bool CaptureEnded(CaptureHandle capture) {
  if (capture == kNoCapture) return true;
  for (CaptureStream* stream : {capture->output, capture->error}) {
    if (stream == nullptr) continue;
    const Locked locked(*stream);
    if (!stream->ended) return false;
  }
  return true;
}

bool CopyCaptureToOutput(CaptureHandle capture, std::string& message, bool streamOut) {
  message.clear();
  if (capture == kNoCapture) return true;
  std::fflush(stdout);
  std::fflush(stderr);
  bool written = true;
  for (CaptureStream* stream : {capture->output, capture->error}) {
    if (stream == nullptr) continue;
    const HANDLE out = GetStdHandle(stream == capture->error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const Locked locked(*stream);
    if (stream->direct == nullptr) {
      written = stream->CopyTo(out) && written;
      // From now on the block goes out as it comes.
      if (streamOut) stream->direct = out;
    }
    written = written && !stream->directFailed;
    // Said once: what could not be kept stays lost, and later output of the file is not kept either.
    if (!stream->failure.empty() && !stream->failureSaid) {
      if (message.empty()) message = stream->failure;
      stream->failureSaid = true;
    }
  }
  return written;
}

void CloseCapture(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  CloseStream(capture->output);
  CloseStream(capture->error);
  delete capture;
}

StartDirHandle OpenStartDirectory(const std::string& path, bool forShell) {
  const std::wstring full = win32::FullPath(WithoutLongPrefix(win32::Wide(path)));
  if (full.empty()) {
    NoteFailure();
    return kNoStartDirectory;
  }
  // A child's current directory is a plain path shorter than MAX_PATH; a longer one, or one whose name
  // Windows would rewrite, could only be named in the \\?\ form. cmd.exe takes no UNC path either: it
  // would say so and run the command in %SystemRoot%.
  if (full.size() >= MAX_PATH - 1 || full.rfind(L"\\\\?\\", 0) == 0 || HasRewrittenComponent(path) ||
      (forShell && IsUncPath(full))) {
    NoteRefusal();
    return kNoStartDirectory;
  }
  // Shared for reading and writing, not for deleting: while it is held the directory cannot be removed or
  // renamed, nor another put in its place.
  const HANDLE handle = CreateFileW(full.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    NoteFailure();
    return kNoStartDirectory;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    NoteRefusal();
    return kNoStartDirectory;
  }
  return new StartDir{full, handle};
}

std::string StartDirectoryPath(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return std::string();
  // As the current directory reads inside it: without a separator at the end, but for a drive's root.
  std::wstring path = dir->path;
  while (path.size() > 3 && path.back() == L'\\')
    path.pop_back();
  return win32::Utf8(path);
}

std::FILE* CreateTextFileIn(StartDirHandle dir, const std::string& name) {
  std::string full = name;
  if (dir != kNoStartDirectory && !IsFullName(name)) {
    full = win32::Utf8(dir->path);
    if (!full.empty() && full.back() != '\\') full += '\\';
    full += name;
  }
  std::FILE* file = win32::CreateTextFile(full);
  if (file == nullptr) NoteFailure();
  return file;
}

DirIdentity StartDirectoryIdentity(StartDirHandle dir) {
  return dir == kNoStartDirectory ? DirIdentity{} : win32::IdentityOfHandle(dir->handle);
}

void CloseStartDirectory(StartDirHandle dir) {
  if (dir == kNoStartDirectory) return;
  CloseHandle(dir->handle);
  delete dir;
}

ChildHandle StartChild(const ChildStart& start) {
  std::string program;
  std::wstring commandLine;
  std::size_t limit = kMaxCommandLine;
  if (!start.shell.empty()) {
    // Argument 0 and " /c " + text joined by one space and nothing quoted, so cmd.exe reads its switch.
    program = start.shell;
    const std::vector<std::string> words =
        ShellArguments(start.shell, start.commandText, /*posixShells=*/false);
    commandLine = win32::Wide(words[0] + " " + words[1]);
    limit = kMaxShellLine;
  } else {
    if (start.args.empty()) {
      NoteRefusal();
      return kNoChild;
    }
    program = start.args[0];
    commandLine = win32::Wide(QuotedCommandLine(start.args));
  }
  // Cut, the line would run another command than the one asked for.
  if (commandLine.size() > limit) {
    NoteRefusal(/*tooLong=*/true);
    return kNoChild;
  }
  const std::wstring path = ProgramFor(program, start.directory);
  if (path.empty()) {
    NoteRefusal();
    return kNoChild;
  }
  std::vector<wchar_t> environment = ChildEnvironment(start.environment);

  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  ChildHandles handles;
  std::vector<char> attributeBuffer;
  LPPROC_THREAD_ATTRIBUTE_LIST attributes = nullptr;
  const bool captured = start.capture != kNoCapture;
  if (captured) {
    if (!handles.Make(*start.capture)) {
      NoteFailure();
      return kNoChild;
    }
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = handles.input;
    startup.StartupInfo.hStdOutput = handles.output;
    startup.StartupInfo.hStdError = handles.error != nullptr ? handles.error : handles.output;
    // Its own handles only: a copy made for this child is never held open by another file's child, so each
    // capture ends when its own file's writers let go.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributeBuffer.resize(size);
    attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
      NoteFailure();
      return kNoChild;
    }
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.list.data(),
                                  handles.list.size() * sizeof(HANDLE), nullptr, nullptr)) {
      startup.StartupInfo.cb = sizeof startup;
      startup.lpAttributeList = attributes;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    // A process group of its own, so a Ctrl-C at the console reaches this process only, which then ends
    // the child through its job; suspended until it is in that job, so nothing it starts escapes it.
    flags |= CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED;
  } else {
    FlushOutput();
  }
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  const bool started =
      CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                     start.directory != kNoStartDirectory ? start.directory->path.c_str() : nullptr,
                     &startup.StartupInfo, &info) != 0;
  if (!started) NoteFailure();
  if (attributes != nullptr) DeleteProcThreadAttributeList(attributes);
  if (!started) return kNoChild;
  HANDLE job = nullptr;
  if (captured) {
    // Where the job cannot be made (or this process sits in a job that takes no other), the child is ended
    // by itself instead. Closing the job ends nothing: what a command leaves running (a program it started
    // with `start`) outlives the run, as it does on POSIX.
    job = CreateJobObjectW(nullptr, nullptr);
    if (job != nullptr && !AssignProcessToJobObject(job, info.hProcess)) {
      CloseHandle(job);
      job = nullptr;
    }
    ResumeThread(info.hThread);
  }
  CloseHandle(info.hThread);
  auto* child = new Child{info.hProcess, job, nullptr, captured};
  if (!RegisterWaitForSingleObject(&child->wait, info.hProcess, ChildEnded, nullptr, INFINITE,
                                   WT_EXECUTEONLYONCE))
    child->wait = nullptr;
  return child;
}

WaitResult WaitForAny(const std::vector<ChildHandle>& running, const std::vector<CaptureHandle>& reading,
                      int timeoutMs) {
  WaitResult result;
  if (running.empty() && reading.empty()) {
    // Asked only whether an ending signal came meanwhile.
    result.signal = TakeDeferredSignal();
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (TakeDeferredSignal()) {
      result.signal = true;
      return result;
    }
    bool polled = false;
    for (std::size_t i = 0; i < running.size(); ++i) {
      Child* child = running[i];
      if (child->wait == nullptr) polled = true;
      if (WaitForSingleObject(child->process, 0) != WAIT_OBJECT_0) continue;
      DWORD code = 0;
      GetExitCodeProcess(child->process, &code);
      // Waits for the callback, should it run now, before the process handle it watches is closed.
      if (child->wait != nullptr) UnregisterWaitEx(child->wait, INVALID_HANDLE_VALUE);
      if (child->job != nullptr) CloseHandle(child->job);
      CloseHandle(child->process);
      delete child;
      result.child = static_cast<int>(i);
      result.exitCode = win32::ExitCodeOf(code);
      return result;
    }
    for (CaptureHandle capture : reading) {
      if (CaptureEnded(capture)) return result;
    }
    DWORD wait = INFINITE;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return result;
      wait = static_cast<DWORD>(left.count());
    }
    // A child whose end could not be registered is looked at now and then.
    if (polled && wait > 20) wait = 20;
    if (WakeEvent() == nullptr) {
      Sleep(wait == INFINITE ? 20 : wait);
    } else {
      WaitForSingleObject(WakeEvent(), wait);
    }
  }
}

void DeferEndingSignals() {
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
  WakeEvent();
  InterlockedExchange(&deferSignals, 1);
}

// Windows has no request to end that every program honours: a console event reaches only a program on a
// console (and cmd.exe answers one with a question), so a captured child is ended for good either way,
// with the exit code Ctrl-C gives, together with everything it started (its job).
void EndChildren(const std::vector<ChildHandle>& running, bool) {
  for (ChildHandle child : running) {
    if (!child->captured) continue;
    if (child->job == nullptr || !TerminateJobObject(child->job, kControlCExit))
      TerminateProcess(child->process, kControlCExit);
  }
}

// A command past its time is ended for good, with everything it started where it has a job of its own.
void EndChild(ChildHandle child, bool) {
  if (child->job == nullptr || !TerminateJobObject(child->job, 1)) TerminateProcess(child->process, 1);
}

void EndBySignal() {
  std::fflush(stdout);
  std::fflush(stderr);
  ExitProcess(kControlCExit);
}

}  // namespace zelvane::platform
