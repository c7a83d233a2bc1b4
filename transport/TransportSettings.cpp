#include "transport/TransportSettings.h"

namespace sion {
namespace {

std::atomic<long long> connectTimeoutMs{TransportTimeouts{}.connect.count()};
std::atomic<long long> ioTimeoutMs{TransportTimeouts{}.io.count()};
std::atomic<long long> totalTimeoutMs{TransportTimeouts{}.total.count()};
std::atomic<long long> idleTimeoutMs{TransportTimeouts{}.idle.count()};

}  // namespace

void SetTransportTimeouts(const TransportTimeouts& timeouts) {
  connectTimeoutMs.store(timeouts.connect.count());
  ioTimeoutMs.store(timeouts.io.count());
  totalTimeoutMs.store(timeouts.total.count());
  idleTimeoutMs.store(timeouts.idle.count());
}

TransportTimeouts GetTransportTimeouts() {
  TransportTimeouts timeouts;
  timeouts.connect = std::chrono::milliseconds(connectTimeoutMs.load());
  timeouts.io = std::chrono::milliseconds(ioTimeoutMs.load());
  timeouts.total = std::chrono::milliseconds(totalTimeoutMs.load());
  timeouts.idle = std::chrono::milliseconds(idleTimeoutMs.load());
  return timeouts;
}

}  // namespace sion
