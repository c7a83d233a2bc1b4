#include "transport/TransportSettings.h"

namespace sion {
namespace {

std::atomic<long long> connectTimeoutMs{TransportTimeouts{}.connect.count()};
std::atomic<long long> ioTimeoutMs{TransportTimeouts{}.io.count()};
thread_local const std::atomic<bool>* cancelFlag = nullptr;

}  // namespace

void SetTransportTimeouts(const TransportTimeouts& timeouts) {
  connectTimeoutMs.store(timeouts.connect.count());
  ioTimeoutMs.store(timeouts.io.count());
}

TransportTimeouts GetTransportTimeouts() {
  TransportTimeouts timeouts;
  timeouts.connect = std::chrono::milliseconds(connectTimeoutMs.load());
  timeouts.io = std::chrono::milliseconds(ioTimeoutMs.load());
  return timeouts;
}

ScopedCancelFlag::ScopedCancelFlag(const std::atomic<bool>* flag) : previous_(cancelFlag) { cancelFlag = flag; }

ScopedCancelFlag::~ScopedCancelFlag() { cancelFlag = previous_; }

bool CancelRequested() { return cancelFlag != nullptr && cancelFlag->load(); }

}  // namespace sion
