// Threads with a stack of a chosen size. The search's walkers loop over explicit stacks and need little
// of their own, so they ask for a small one: a run under a tight address-space limit then still gets its
// walkers, where the system's default (8 MiB on Linux) for each would not fit.
#pragma once

#include <cstddef>
#include <functional>

namespace zelvane::platform {

struct Thread;
using ThreadHandle = Thread*;
inline constexpr ThreadHandle kNoThread = nullptr;

// Starts `work` on a new thread whose stack holds `stackBytes` (raised to the system's least); kNoThread
// when no thread can be started (the caller then does the work itself or with fewer threads).
ThreadHandle StartThread(std::function<void()> work, std::size_t stackBytes);

// Waits for the thread to end and lets go of it.
void JoinThread(ThreadHandle thread);

}  // namespace zelvane::platform
