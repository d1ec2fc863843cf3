// A child for the end-to-end tests: prints each argument after argv[0] on a line of its own, in brackets
// so that empty arguments and blanks show. The environment variable ARGV_PRINTER_EXIT, when set, is the
// exit code; ARGV_PRINTER_ENV names variables whose values are printed as NAME=value lines.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    std::printf("[%s]\n", argv[i]);
  if (const char* names = std::getenv("ARGV_PRINTER_ENV")) {
    std::string list = names;
    std::size_t pos = 0;
    while (pos <= list.size()) {
      std::size_t comma = list.find(',', pos);
      if (comma == std::string::npos) comma = list.size();
      const std::string name = list.substr(pos, comma - pos);
      if (!name.empty()) {
        const char* value = std::getenv(name.c_str());
        std::printf("%s=%s\n", name.c_str(), value ? value : "(unset)");
      }
      pos = comma + 1;
    }
  }
  const char* code = std::getenv("ARGV_PRINTER_EXIT");
  return code ? std::atoi(code) : 0;
}
