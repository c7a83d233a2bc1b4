// How the SDK starts its threads. The operating system may refuse a thread (an address-space
// or thread limit of the game's process); every caller handles that as a failure of its own
// call, so the seam exists to make that path testable.
#pragma once

#include <functional>

namespace sion {

// Starts `body` on a new detached thread; false when no thread could be created. Never throws.
using ThreadLauncher = std::function<bool(std::function<void()> body)>;

ThreadLauncher DefaultThreadLauncher();

}  // namespace sion
