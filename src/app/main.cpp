#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/command_line.h"
#include "app/parse_command_line.h"
#include "app/run_context.h"
#include "app/run_loop.h"
#include "command/execute.h"
#include "platform/console.h"
#include "platform/startup.h"
#include "search/collect.h"

namespace {

// Parse, find, run; the exit status.
int Run(int argc, char** argv) {
  using namespace zelvane;
  RunContext ctx;
  const ParseResult parsed = ParseCommandLine(ctx.settings, argc, argv);
  if (parsed == ParseResult::Refused) return 1;
  if (parsed != ParseResult::UsageShown && ctx.settings.why) {
    // Nothing runs: the answer is the search's own account, whether or not a Command was given.
    ExplainSearch(ctx.settings);
    return 0;
  }
  if (parsed != ParseResult::UsageShown) {
    ctx.MatchList = FindMatches(ctx.settings);
    if (parsed == ParseResult::CommandNotLocated) PrintUsage(ctx.settings);
    ctx.progress = RunLoop(ctx.settings, ctx.MatchList);
  }
  // Every run that got this far ends with 0 (failed commands, an abort and an empty match list included),
  // unless -ReturnCode asks whether anything failed or -QuitOnFail stopped it.
  if (ctx.progress.quitOnFail) return 1;
  return ctx.settings.returnCode && ctx.progress.commandFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zelvane;
  if (!platform::StartUp()) {
    platform::WriteErr("Fatal Error: MFC initialization failed\n");
    return 1;
  }
  int status = 1;
  try {
    status = Run(argc, argv);
  } catch (const std::bad_alloc&) {
    EndOutOfMemory();
  }
  platform::FlushOutput();
  // Ends here, so a match list of a million paths is not freed one string at a time on the way out.
  std::exit(status);
}
