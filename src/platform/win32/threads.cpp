#include "platform/threads.h"

#include <windows.h>

#include <new>
#include <utility>

namespace zelvane::platform {

struct Thread {
  HANDLE handle;
  std::function<void()> work;
};

namespace {

DWORD WINAPI Run(void* argument) {
  static_cast<Thread*>(argument)->work();
  return 0;
}

}  // namespace

ThreadHandle StartThread(std::function<void()> work, std::size_t stackBytes) {
  auto* thread = new (std::nothrow) Thread{nullptr, std::move(work)};
  if (thread == nullptr) return kNoThread;
  // The size is what the thread reserves, not what it commits: the address space is what runs short.
  thread->handle = CreateThread(nullptr, stackBytes, Run, thread, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle == nullptr) {
    delete thread;
    return kNoThread;
  }
  return thread;
}

void JoinThread(ThreadHandle thread) {
  if (thread == kNoThread) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

}  // namespace zelvane::platform
