// Presses Ctrl-C at the console during a -Jobs run, as a user would, and checks how the run ends: what the
// commands printed before it comes out whole and in order, every command (a shell, and the program the
// shell started) is ended at once, and zelvane ends as Ctrl-C ends a program. It must run on a console
// (host_ctrl_c.sh gives Wine a terminal): a console event reaches only the processes on one.
//   console_ctrl_c <zelvane.exe> <argv_printer.exe> <empty working directory>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

BOOL WINAPI IgnoreControl(DWORD) {
  return TRUE;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Read(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Fail(const std::string& why) {
  std::printf("FAIL: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: console_ctrl_c <zelvane.exe> <argv_printer.exe> <directory>");
  const std::string dir = std::string(argv[3]) + "\\";
  for (const char* name : {"a.t", "b.t"})
    CloseHandle(Inheritable(dir + name, GENERIC_WRITE, CREATE_ALWAYS));
  SetConsoleCtrlHandler(IgnoreControl, TRUE);
  SetEnvironmentVariableA("COMSPEC", "C:\\windows\\system32\\cmd.exe");
  SetEnvironmentVariableA("ARGV_PRINTER_ACTIONS", "1");
  // Each command marks that it runs, then would mark again six seconds later, had it not been ended.
  std::string line = std::string("zelvane *.t -Jobs:2 echo before $n& ") + argv[2] +
                     " touch:$b.on sleep:x_6000 touch:$b.late";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = Inheritable(dir + "out.txt", GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = Inheritable(dir + "err.txt", GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(argv[1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &startup, &info))
    return Fail("zelvane did not start");
  for (int i = 0; i < 600 && !(Exists(dir + "a.on") && Exists(dir + "b.on")); ++i)
    Sleep(50);
  if (!Exists(dir + "a.on") || !Exists(dir + "b.on")) return Fail("the commands did not start");
  const DWORD pressed = GetTickCount();
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return Fail("no console to press Ctrl-C on");
  if (WaitForSingleObject(info.hProcess, 30000) != WAIT_OBJECT_0) return Fail("zelvane did not end");
  const DWORD took = GetTickCount() - pressed;
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  // Past the commands' six seconds: a command that outlived the run has marked it by now.
  while (GetTickCount() - pressed < 7500)
    Sleep(100);
  std::string result;
  if (code != 0xC000013Au) result += "exit code " + std::to_string(code) + "; ";
  if (took > 5000) result += "took " + std::to_string(took) + " ms; ";
  if (Read(dir + "out.txt") != "before a.t\r\nbefore b.t\r\n")
    result += "output \"" + Read(dir + "out.txt") + "\"; ";
  if (!Read(dir + "err.txt").empty()) result += "errors \"" + Read(dir + "err.txt") + "\"; ";
  if (Exists(dir + "a.late") || Exists(dir + "b.late")) result += "a command outlived the run; ";
  if (!result.empty()) return Fail(result);
  std::printf("PASS\n");
  return 0;
}
