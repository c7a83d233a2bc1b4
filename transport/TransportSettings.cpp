#include "transport/TransportSettings.h"

#include <algorithm>

namespace sion {
namespace {

std::atomic<long long> connectTimeoutMs{TransportTimeouts{}.connect.count()};
std::atomic<long long> ioTimeoutMs{TransportTimeouts{}.io.count()};
std::atomic<long long> totalTimeoutMs{TransportTimeouts{}.total.count()};
std::atomic<long long> idleTimeoutMs{TransportTimeouts{}.idle.count()};
thread_local const std::atomic<bool>* cancelFlag = nullptr;
thread_local std::chrono::steady_clock::time_point exchangeDeadline = std::chrono::steady_clock::time_point::max();

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

ScopedCancelFlag::ScopedCancelFlag(const std::atomic<bool>* flag) : previous_(cancelFlag) { cancelFlag = flag; }

ScopedCancelFlag::~ScopedCancelFlag() { cancelFlag = previous_; }

bool CancelRequested() { return cancelFlag != nullptr && cancelFlag->load(); }

const std::atomic<bool>* CurrentCancelFlag() { return cancelFlag; }

ScopedExchangeDeadline::ScopedExchangeDeadline(std::chrono::steady_clock::time_point deadline)
    : previous_(exchangeDeadline) {
  exchangeDeadline = std::min(deadline, previous_);
}

ScopedExchangeDeadline::~ScopedExchangeDeadline() { exchangeDeadline = previous_; }

std::chrono::steady_clock::time_point ExchangeDeadline() { return exchangeDeadline; }

}  // namespace sion
