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
    if (std::ferror(stdout)) return;

    // Between two commands only: a running command always finishes.
    if (platform::KeyWaiting()) {
      const int key = platform::ReadKey();
      if (key == static_cast<unsigned char>(ctx.abortKey)) {
        std::printf("Aborting at user's request after %s.\n", path.c_str());
        return;
      }
      // Another key belongs to the next reader, such as a confirmation prompt.
      if (key >= 0) platform::PushBackKey(key);
    }

    if (!ctx.stopFile.empty() && platform::NameExists(ctx.stopFile)) {
      if (!platform::RemoveFile(ctx.stopFile)) {
        std::fflush(stdout);
        std::fprintf(stderr, "WARNING:  could not delete Stop file \"%s\".\n", ctx.stopFile.c_str());
      }
      return;
    }
  }
}

}  // namespace zelvane
