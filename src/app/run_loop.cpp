#include "app/run_loop.h"

#include <cstdio>

#include "app/parallel_run.h"
#include "app/run_context.h"
#include "command/execute.h"
#include "platform/platform.h"

namespace zelvane {

StopRequest CheckForStop(const RunContext& ctx, std::string& warning) {
  if (platform::KeyWaiting()) {
    const int key = platform::ReadKey();
    if (key == static_cast<unsigned char>(ctx.abortKey)) return StopRequest::AbortKey;
    // Another key belongs to the next reader, such as a confirmation prompt.
    if (key >= 0) platform::PushBackKey(key);
  }
  if (!ctx.stopFile.empty() && platform::NameExists(ctx.stopFile)) {
    if (!platform::RemoveFile(ctx.stopFile))
      warning = "WARNING:  could not delete Stop file \"" + ctx.stopFile + "\".\n";
    return StopRequest::StopFile;
  }
  return StopRequest::None;
}

void RunLoop(RunContext& ctx) {
  const int jobs = ctx.jobs > 0 ? ctx.jobs : platform::ProcessorCount();
  // Questions are asked in order and each answer is acted on before the next question.
  if (jobs > 1 && !(ctx.confirm && !ctx.batch)) {
    RunInParallel(ctx, jobs);
    return;
  }

  const std::vector<std::string>& entries = Entries(ctx.MatchList);
  for (const std::string& path : entries) {
    ExecuteCommand(ctx, path, ctx.command);

    // Output that cannot be written (a pipe nobody reads, a full disk) leaves the user blind to what the
    // run does: end it quietly rather than go on running commands nobody sees.
    if (platform::OutputFailed()) return;

    // Between two commands only: a running command always finishes.
    std::string warning;
    switch (CheckForStop(ctx, warning)) {
      case StopRequest::AbortKey:
        platform::WriteOut("Aborting at user's request after " + path + ".\n");
        return;
      case StopRequest::StopFile:
        if (!warning.empty()) platform::WriteErr(warning);
        return;
      case StopRequest::None:
        break;
    }
  }
}

}  // namespace zelvane
