// The one way the SDK runs code that may throw where nothing may leave: an export's body, a
// thread's body that calls the game. A failure is written to standard error, since the log may
// be switched off or already torn down.
#pragma once

#include <cstdio>
#include <exception>

namespace zarnplatform {

template <class F>
void Guarded(const char* what, F&& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zarnsdk: %s failed: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "zarnsdk: %s failed\n", what);
  }
}

}  // namespace zarnplatform
