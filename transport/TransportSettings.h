// The transport's limits, and the context (connections, resolver, cancel flag, limits) that
// reaches each exchange.
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

// The limits a TransportContext starts with: for requests that start afterwards. A tuning and
// test hook; safe to call from any thread.
void SetTransportTimeouts(const TransportTimeouts& timeouts);
TransportTimeouts GetTransportTimeouts();

class ConnectionPool;
class Resolver;

// Everything one exchange takes from whoever runs it: a WorkerPool's worker builds one per
// request; a caller of Request::Send without one gets a fresh connection, closed afterwards.
// Borrowed pointers; they must outlive the exchange.
struct TransportContext {
  ConnectionPool* connections = nullptr;  // null: nothing is kept between requests
  Resolver* resolver = nullptr;           // null: the process's own (ProcessResolver)
  // Once true, every wait of the exchange ends within about 20 ms with "请求已取消".
  const std::atomic<bool>* cancel = nullptr;
  TransportTimeouts timeouts = GetTransportTimeouts();
  // No wait goes beyond it; the exchange narrows it to its own whole-exchange limit.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();

  bool Cancelled() const { return cancel != nullptr && cancel->load(); }
};

}  // namespace sion
