// Walking the match list: one Command per file, with the abort key and the Stop file between files.
#pragma once

namespace zelvane {

struct RunContext;

void RunLoop(RunContext& ctx);

}  // namespace zelvane
