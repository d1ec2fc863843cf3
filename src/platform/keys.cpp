// The key test, key read and push-back over either target's key source. A key the test had to take from
// the input to learn that one was waiting is held until it is read, like the pushed-back one.
#include "platform/console.h"
#include "platform/key_source.h"

namespace zelvane::platform {
namespace {

int pushedBack = -1;  // the one pushed-back key
int lookahead = -1;   // taken by the key test, not read yet

int Take(int& slot) {
  const int key = slot;
  slot = -1;
  return key;
}

}  // namespace

int WaitingKey() {
  if (pushedBack >= 0) return pushedBack;
  if (lookahead < 0) lookahead = keys::TakeWaitingKey();
  return lookahead;
}

int ReadKey() {
  // Whatever was printed, a prompt above all, shows before the program waits.
  FlushOutput();
  if (pushedBack >= 0) return Take(pushedBack);
  if (lookahead >= 0) return Take(lookahead);
  return keys::WaitForKey();
}

void PushBackKey(int key) {
  pushedBack = key & 0xFF;
}

}  // namespace zelvane::platform
