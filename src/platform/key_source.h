// What each target's console backend supplies to the shared key test, key read and push-back. Internal
// to the platform layer.
#pragma once

namespace zelvane::platform::keys {

// Takes a key that is already waiting in the input; -1 when none is (never blocks, also at the end).
int TakeWaitingKey();

// Waits for the next key and takes it, without echo; -1 at the end of input.
int WaitForKey();

}  // namespace zelvane::platform::keys
