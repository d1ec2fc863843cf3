#include <cstdio>
#include <cstdlib>

#include "app/build_run_context.h"
#include "app/run_loop.h"
#include "platform/console.h"
#include "platform/startup.h"

int main(int argc, char** argv) {
  using namespace zelvane;
  if (!platform::StartUp()) {
    platform::WriteErr("Fatal Error: MFC initialization failed\n");
    return 1;
  }
  RunContext ctx;
  BuildRunContext(ctx, argc, argv);
  RunLoop(ctx);
  // Every run that got this far ends with 0 (failed commands, an abort and an empty match list included),
  // unless -ReturnCode asks whether anything failed.
  const int status = ctx.returnCode && ctx.commandFailed ? 1 : 0;
  platform::FlushOutput();
  // Ends here, so a match list of a million paths is not freed one string at a time on the way out.
  std::exit(status);
}
