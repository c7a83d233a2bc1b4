// Process-wide limits of the transport and the per-thread cancellation hook of the worker pool.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

namespace sion {

// A reply head must end within this many bytes, a body (raw, as received) within this many.
inline constexpr std::size_t kMaxHeadBytes = 64 * 1024;
inline constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

struct TransportTimeouts {
  std::chrono::milliseconds connect{10000};  // TCP connect
  std::chrono::milliseconds io{30000};       // any read or write that makes no progress
};

// Test and tuning hook: replaces the time limits for requests that start afterwards. Safe to
// call from any thread.
void SetTransportTimeouts(const TransportTimeouts& timeouts);
TransportTimeouts GetTransportTimeouts();

// While alive, a request sent on this thread gives up at its next network wait (within about
// 100 ms) once `*flag` is true. The worker pool installs one per worker with its stop flag.
class ScopedCancelFlag {
 public:
  explicit ScopedCancelFlag(const std::atomic<bool>* flag);
  ~ScopedCancelFlag();
  ScopedCancelFlag(const ScopedCancelFlag&) = delete;
  ScopedCancelFlag& operator=(const ScopedCancelFlag&) = delete;

 private:
  const std::atomic<bool>* previous_;
};

// True when the calling thread's cancel flag is set.
bool CancelRequested();

}  // namespace sion
