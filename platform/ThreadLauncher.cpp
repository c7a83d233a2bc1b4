#include "platform/ThreadLauncher.h"

#include <thread>
#include <utility>

namespace sion {

ThreadLauncher DefaultThreadLauncher() {
  return [](std::function<void()> body) {
    try {
      std::thread(std::move(body)).detach();
      return true;
    } catch (...) {
      return false;
    }
  };
}

}  // namespace sion
