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
  // The whole exchange, from connect to the last byte of the reply: a server that trickles
  // a byte now and then must not hold a worker for ever.
  std::chrono::milliseconds total{120000};
  // A kept-alive connection unused for this long is closed: servers drop idle connections
  // themselves after a while, and each one holds a socket at both ends.
  std::chrono::milliseconds idle{30000};
};

// Test and tuning hook: replaces the time limits for requests that start afterwards. Safe to
// call from any thread.
void SetTransportTimeouts(const TransportTimeouts& timeouts);
TransportTimeouts GetTransportTimeouts();

// While alive, a request sent on this thread gives up at its next network wait (within about
// 20 ms) once `*flag` is true. The worker pool installs one per worker with its stop flag.
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
// The calling thread's cancel flag; null when none is installed.
const std::atomic<bool>* CurrentCancelFlag();

// While alive, every network wait on this thread ends by `deadline` at the latest. An exchange
// installs one for its whole duration.
class ScopedExchangeDeadline {
 public:
  explicit ScopedExchangeDeadline(std::chrono::steady_clock::time_point deadline);
  ~ScopedExchangeDeadline();
  ScopedExchangeDeadline(const ScopedExchangeDeadline&) = delete;
  ScopedExchangeDeadline& operator=(const ScopedExchangeDeadline&) = delete;

 private:
  std::chrono::steady_clock::time_point previous_;
};

// The calling thread's exchange deadline; time_point::max() when none is installed.
std::chrono::steady_clock::time_point ExchangeDeadline();

}  // namespace sion
