#include "platform/threads.h"

#include <limits.h>
#include <pthread.h>

#include <algorithm>
#include <new>
#include <utility>

namespace zelvane::platform {

struct Thread {
  pthread_t id;
  std::function<void()> work;
};

namespace {

void* Run(void* argument) {
  static_cast<Thread*>(argument)->work();
  return nullptr;
}

}  // namespace

ThreadHandle StartThread(std::function<void()> work, std::size_t stackBytes) {
  auto* thread = new (std::nothrow) Thread{pthread_t{}, std::move(work)};
  if (thread == nullptr) return kNoThread;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete thread;
    return kNoThread;
  }
  pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stackBytes, PTHREAD_STACK_MIN));
  const int error = pthread_create(&thread->id, &attributes, Run, thread);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete thread;
    return kNoThread;
  }
  return thread;
}

void JoinThread(ThreadHandle thread) {
  if (thread == kNoThread) return;
  pthread_join(thread->id, nullptr);
  delete thread;
}

}  // namespace zelvane::platform
