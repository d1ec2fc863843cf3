#include "app/run_loop.h"

#include <cstdio>

#include "app/run_context.h"
#include "command/execute.h"
#include "platform/platform.h"

namespace zelvane {

void RunLoop(RunContext& ctx) {
  const std::vector<std::string>& entries = Entries(ctx.MatchList);
  for (const std::string& path : entries) {
    ExecuteCommand(ctx, path, ctx.command);

    // Output that cannot be written (a pipe nobody reads, a full disk) leaves the user blind to what the
    // run does: end it quietly rather than go on running commands nobody sees.
    if (platform::OutputFailed()) return;

    // Between two commands only: a running command always finishes.
    if (platform::KeyWaiting()) {
      const int key = platform::ReadKey();
      if (key == static_cast<unsigned char>(ctx.abortKey)) {
        platform::WriteOut("Aborting at user's request after " + path + ".\n");
        return;
      }
      // Another key belongs to the next reader, such as a confirmation prompt.
      if (key >= 0) platform::PushBackKey(key);
    }

    if (!ctx.stopFile.empty() && platform::NameExists(ctx.stopFile)) {
      if (!platform::RemoveFile(ctx.stopFile)) {
        platform::FlushOutput();
        platform::WriteErr("WARNING:  could not delete Stop file \"" + ctx.stopFile + "\".\n");
      }
      return;
    }
  }
}

}  // namespace zelvane
