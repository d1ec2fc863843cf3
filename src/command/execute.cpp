// Minimal: counts the file and performs the internal echo of a Command without macros.
#include "command/execute.h"

#include <cstdio>

#include "app/run_context.h"

namespace zelvane {

int ExecuteCommand(RunContext& ctx, const std::string&, const std::string& commandTemplate) {
  ++ctx.fileNumber;
  if (ctx.shell.empty() && commandTemplate.size() > 5 && commandTemplate.compare(0, 5, "echo ") == 0) {
    std::printf("%s\n", commandTemplate.c_str() + 5);
  }
  return 0;
}

}  // namespace zelvane
