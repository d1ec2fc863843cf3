// Children, started with CreateProcessW (a UTF-16 command line, the Unicode environment block, a starting
// directory, and either the console or a capture), and one wait for whichever ends. A capture here is a
// temporary file deleted on close, which the children write into directly; names cross the edge as UTF-16.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/child_text.h"
#include "platform/console.h"
#include "platform/processes.h"
#include "platform/win32/win32_util.h"

namespace zelvane::platform {

struct CaptureFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  long long copied = 0;  // written out already
};

struct Capture {
  CaptureFile output;
  CaptureFile error;  // unused when the two streams are one
  bool oneStream = true;
  // The children share the files' pointer with this process, so nothing is read back while they may run.
  bool inputClosed = false;
  HANDLE ErrorHandle() const { return oneStream ? output.handle : error.handle; }
};

struct StartDir {
  std::wstring path;  // full path
};

struct Child {
  HANDLE process;
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

thread_local bool lastWasShortage = false;

// Records whether the last failure was for want of a resource.
void NoteFailure() {
  const DWORD error = GetLastError();
  lastWasShortage = error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY ||
                    error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES ||
                    error == ERROR_NOT_ENOUGH_QUOTA;
}

bool WriteAll(HANDLE h, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
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

// A temporary file deleted when its last handle closes; INVALID_HANDLE_VALUE when it cannot be made.
HANDLE CreateTemporaryFile() {
  std::vector<wchar_t> dir(MAX_PATH + 1);
  for (;;) {
    const DWORD n = GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    if (n == 0) return INVALID_HANDLE_VALUE;
    if (n < dir.size()) break;
    dir.resize(n + 1);
  }
  wchar_t name[MAX_PATH + 16];
  if (GetTempFileNameW(dir.data(), L"zlv", 0, name) == 0) return INVALID_HANDLE_VALUE;
  // Not inheritable: a child gets it only as a standard handle.
  const HANDLE h =
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) DeleteFileW(name);
  return h;
}

// Copies what came into the file since `copied`; the file's pointer is left at its end for later writers.
bool CopyToStandard(CaptureFile& capture, DWORD which) {
  if (capture.handle == INVALID_HANDLE_VALUE) return true;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(capture.handle, &size)) return false;
  if (size.QuadPart <= capture.copied) return true;
  LARGE_INTEGER from;
  from.QuadPart = capture.copied;
  if (!SetFilePointerEx(capture.handle, from, nullptr, FILE_BEGIN)) return false;
  HANDLE out = GetStdHandle(which);
  static std::vector<char> buffer(1 << 20);
  long long left = size.QuadPart - capture.copied;
  while (left > 0) {
    DWORD got = 0;
    if (!ReadFile(capture.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
        got == 0)
      return false;
    if (!WriteAll(out, buffer.data(), got)) return false;
    left -= got;
    capture.copied += got;
  }
  return true;
}

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

namespace {

thread_local bool lastWasTooLong = false;

// The longest command line CreateProcessW takes, and the longest line cmd.exe reads.
constexpr std::size_t kLongestCommandLine = 32767;
constexpr std::size_t kLongestShellLine = 8191;

}  // namespace

bool WasTooLong() {
  return lastWasTooLong;
}

std::size_t CommandLineRoom(bool shellLine) {
  // The shell line also holds the shell's own path and " /c ": a margin of a long path covers them.
  return shellLine ? kLongestShellLine - MAX_PATH - 8 : kLongestCommandLine - 1;
}

std::size_t WordCost(std::string_view word, bool shellLine) {
  const std::wstring wide = win32::Wide(shellLine ? std::string(word) : QuoteCommandWord(word));
  return wide.size() + 1;
}

CaptureHandle CreateCapture(bool oneStream) {
  auto* capture = new Capture;
  capture->oneStream = oneStream;
  capture->output.handle = CreateTemporaryFile();
  if (capture->output.handle != INVALID_HANDLE_VALUE && !oneStream) {
    capture->error.handle = CreateTemporaryFile();
  }
  if (capture->output.handle == INVALID_HANDLE_VALUE ||
      (!oneStream && capture->error.handle == INVALID_HANDLE_VALUE)) {
    NoteFailure();
    CloseCapture(capture);
    return kNoCapture;
  }
  return capture;
}

void WriteToCapture(CaptureHandle capture, std::string_view text, bool toError) {
  if (capture == kNoCapture) return;
  const std::string bytes = win32::RedirectedText(text);
  WriteAll(toError ? capture->ErrorHandle() : capture->output.handle, bytes.data(), bytes.size());
}

void CloseCaptureInput(CaptureHandle capture) {
  if (capture != kNoCapture) capture->inputClosed = true;
}

bool CaptureEnded(CaptureHandle) {
  // Children write into the file itself: what they wrote is there once they have ended.
  return true;
}

bool CopyCaptureToOutput(CaptureHandle capture, std::string& message) {
  message.clear();
  if (capture == kNoCapture || !capture->inputClosed) return true;
  std::fflush(stdout);
  std::fflush(stderr);
  bool written = CopyToStandard(capture->output, STD_OUTPUT_HANDLE);
  if (!capture->oneStream) written = CopyToStandard(capture->error, STD_ERROR_HANDLE) && written;
  return written;
}

void CloseCapture(CaptureHandle capture) {
  if (capture == kNoCapture) return;
  if (capture->output.handle != INVALID_HANDLE_VALUE) CloseHandle(capture->output.handle);
  if (capture->error.handle != INVALID_HANDLE_VALUE) CloseHandle(capture->error.handle);
  delete capture;
}

StartDirHandle OpenStartDirectory(const std::string& path) {
  const std::wstring full = win32::FullPath(win32::Wide(path));
  // A child cannot start in a directory whose name is MAX_PATH long or longer.
  if (full.empty() || full.size() >= MAX_PATH - 1) return kNoStartDirectory;
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    NoteFailure();
    return kNoStartDirectory;
  }
  return new StartDir{full};
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

DirIdentity StartDirectoryIdentity(StartDirHandle) {
  return {};
}

void CloseStartDirectory(StartDirHandle dir) {
  delete dir;
}

ChildHandle StartChild(const ChildStart& start) {
  lastWasTooLong = false;
  std::string program;
  std::wstring commandLine;
  if (!start.shell.empty()) {
    // Argument 0 and " /c " + text joined by one space and nothing quoted, so cmd.exe reads its switch.
    program = start.shell;
    const std::vector<std::string> words =
        ShellArguments(start.shell, start.commandText, /*posixShells=*/false);
    commandLine = win32::Wide(words[0] + " " + words[1]);
  } else {
    if (start.args.empty()) return kNoChild;
    program = start.args[0];
    commandLine = win32::Wide(QuotedCommandLine(start.args));
  }
  // Never cut: a line the system or the shell would not take whole is not started.
  if (commandLine.size() > (start.shell.empty() ? kLongestCommandLine - 1 : kLongestShellLine)) {
    lastWasShortage = false;
    lastWasTooLong = true;
    return kNoChild;
  }
  const std::wstring path = ProgramFor(program, start.directory);
  if (path.empty()) {
    lastWasShortage = false;
    return kNoChild;
  }
  std::vector<wchar_t> environment = ChildEnvironment(start.environment);

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  HANDLE input = INVALID_HANDLE_VALUE;
  HANDLE output = nullptr;
  HANDLE error = nullptr;
  if (start.capture != kNoCapture) {
    SECURITY_ATTRIBUTES inherit;
    inherit.nLength = sizeof inherit;
    inherit.lpSecurityDescriptor = nullptr;
    inherit.bInheritHandle = TRUE;
    input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    output = InheritableCopy(start.capture->output.handle);
    error = InheritableCopy(start.capture->ErrorHandle());
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input != INVALID_HANDLE_VALUE ? input : nullptr;
    startup.hStdOutput = output;
    startup.hStdError = error;
  } else {
    FlushOutput();
  }
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  const bool started =
      CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     environment.data(),
                     start.directory != kNoStartDirectory ? start.directory->path.c_str() : nullptr, &startup,
                     &info) != 0;
  if (!started) NoteFailure();
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != nullptr) CloseHandle(output);
  if (error != nullptr) CloseHandle(error);
  if (!started) return kNoChild;
  CloseHandle(info.hThread);
  return new Child{info.hProcess};
}

WaitResult WaitForAny(const std::vector<ChildHandle>& running, const std::vector<CaptureHandle>&,
                      int timeoutMs) {
  WaitResult result;
  if (running.empty() || running.size() > MAXIMUM_WAIT_OBJECTS) return result;
  std::vector<HANDLE> handles;
  handles.reserve(running.size());
  for (ChildHandle child : running)
    handles.push_back(child->process);
  const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                         timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (r >= WAIT_OBJECT_0 + handles.size()) return result;
  const std::size_t index = r - WAIT_OBJECT_0;
  DWORD code = 0;
  GetExitCodeProcess(handles[index], &code);
  CloseHandle(handles[index]);
  delete running[index];
  result.child = static_cast<int>(index);
  result.exitCode = win32::ExitCodeOf(code);
  return result;
}

// A console's Ctrl-C reaches every process attached to it, the children with this one.
void DeferEndingSignals() {}

void EndChildren(const std::vector<ChildHandle>& running, bool) {
  for (ChildHandle child : running)
    TerminateProcess(child->process, 1);
}

void EndChild(ChildHandle child, bool) {
  TerminateProcess(child->process, 1);
}

void EndBySignal() {
  ExitProcess(1);
}

}  // namespace zelvane::platform
