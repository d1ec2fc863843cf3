#include "app/run_loop.h"

#include "app/run_context.h"
#include "command/command_template.h"
#include "command/execute.h"
#include "platform/processes.h"

namespace zelvane {

void RunLoop(RunContext& ctx) {
  const std::vector<std::string>& entries = Entries(ctx.MatchList);
  if (entries.empty()) return;
  // Read once; each file only fills in the macros.
  const CommandTemplate command =
      ParseCommandTemplate(ctx.command, ctx.breakChar, ctx.macroChar, /*splitWords=*/ctx.shell.empty());
  RunCommands(ctx, command, entries, ctx.jobs > 0 ? ctx.jobs : platform::ProcessorCount());
}

}  // namespace zelvane
