#include <cstdio>

#include "app/build_run_context.h"
#include "app/run_loop.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  using namespace zelvane;
  if (!platform::StartUp()) {
    platform::WriteErr("Fatal Error: MFC initialization failed\n");
    return 1;
  }
  int status = 0;
  {
    RunContext ctx;
    BuildRunContext(ctx, argc, argv);
    RunLoop(ctx);
    // Every run that got this far ends with 0 (failed commands, an abort and an empty match list included),
    // unless -ReturnCode asks whether anything failed.
    if (ctx.returnCode && ctx.commandFailed) status = 1;
  }
  platform::FlushOutput();
  return status;
}
