#include "app/run_loop.h"

#include <cstdio>

#include "app/parallel_run.h"
#include "app/run_context.h"
#include "command/command_template.h"
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
  const std::vector<std::string>& entries = Entries(ctx.MatchList);
  if (entries.empty()) return;
  // Read once; each file only fills in the macros.
  const CommandTemplate command =
      ParseCommandTemplate(ctx.command, ctx.breakChar, ctx.macroChar, /*splitWords=*/ctx.shell.empty());

  const int jobs = ctx.jobs > 0 ? ctx.jobs : platform::ProcessorCount();
  // Questions are asked in order and each answer is acted on before the next question.
  if (jobs > 1 && !(ctx.confirm && !ctx.batch)) {
    RunInParallel(ctx, command, jobs);
    return;
  }
  for (const std::string& path : entries) {
    ExecuteCommand(ctx, path, command);

    // Output that cannot be written (a pipe nobody reads, a full disk) leaves the user blind to what the
    // run does: end it quietly rather than go on running commands nobody sees. A failed -xo file has said
    // so on standard error already.
    if (platform::OutputFailed() || ctx.endRun) return;

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
