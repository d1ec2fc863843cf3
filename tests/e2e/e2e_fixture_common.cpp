// The parts of the end-to-end fixture that are the same on every target.
#include "e2e/e2e_fixture.h"

namespace zelvane::test {
RunResult RunZelvane(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{ZelvaneBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, options.cwd.empty() ? dir.path() : options.cwd, options);
}

}  // namespace zelvane::test
