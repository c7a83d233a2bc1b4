#include "transport/Resolver.h"

#include <algorithm>
#include <exception>

#include "transport/Error.h"
#include "transport/Messages.h"

namespace sion {
namespace {

using Clock = std::chrono::steady_clock;
using zarnplatform::MutexLock;

// How often a waiting asker looks at its cancel flag.
constexpr std::chrono::milliseconds kSlice{20};

}  // namespace

// One lookup's result slot, shared by its thread and its askers.
struct Resolver::Lookup {
  zarnplatform::Mutex mutex;
  zarnplatform::CondVar done;
  bool finished GUARDED_BY(mutex) = false;
  std::vector<zarnplatform::IpAddress> addresses GUARDED_BY(mutex);
  std::string failure GUARDED_BY(mutex);
  Clock::time_point started = Clock::now();
};

Resolver::Resolver(NameLookup lookup) : lookup_(std::move(lookup)) {}

std::shared_ptr<Resolver::Lookup> Resolver::StartLookup(const std::string& name) {
  auto lookup = std::make_shared<Lookup>();
  // The thread gets copies: it must never reach back into this resolver.
  const bool started = zarnplatform::StartDetachedThread([lookup, name, function = lookup_] {
    std::vector<zarnplatform::IpAddress> addresses;
    std::string failure;
    try {
      addresses = function(name);
      if (addresses.empty()) failure = messages::kAddressError;
    } catch (const std::exception& e) {
      failure = e.what();
      if (failure.empty()) failure = messages::kAddressError;
    } catch (...) {
      failure = messages::kUnknownException;
    }
    MutexLock lock(lookup->mutex);
    lookup->addresses = std::move(addresses);
    lookup->failure = std::move(failure);
    lookup->finished = true;
    lookup->done.NotifyAll();
  });
  if (!started) throw Error(messages::kAddressError, FailureKind::Resolve);
  running_[name] = lookup;
  return lookup;
}

std::vector<zarnplatform::IpAddress> Resolver::Resolve(const std::string& name, Clock::time_point deadline,
                                                       const std::atomic<bool>* cancel) {
  std::shared_ptr<Lookup> lookup;
  {
    MutexLock lock(mutex_);
    const auto now = Clock::now();
    if (const auto kept = answers_.find(name); kept != answers_.end()) {
      if (kept->second.until > now) return kept->second.addresses;
      answers_.erase(kept);
    }
    const auto running = running_.find(name);
    if (running != running_.end() && running->second->started + kStaleLookup > now) {
      lookup = running->second;
    } else {
      lookup = StartLookup(name);
    }
  }

  std::vector<zarnplatform::IpAddress> addresses;
  std::string failure;
  {
    MutexLock lock(lookup->mutex);
    for (;;) {
      if (lookup->finished) break;
      if (cancel != nullptr && cancel->load()) throw WaitEnded(messages::kCancelled, FailureKind::Cancelled);
      const auto now = Clock::now();
      if (now >= deadline) throw WaitEnded(messages::kTimeout + std::string("resolve ") + name, FailureKind::Timeout);
      lookup->done.WaitUntil(lock, std::min(deadline, now + kSlice), [&lookup] {
        lookup->mutex.AssertHeld();
        return lookup->finished;
      });
    }
    addresses = lookup->addresses;
    failure = lookup->failure;
  }

  MutexLock lock(mutex_);
  if (const auto running = running_.find(name); running != running_.end() && running->second == lookup) {
    running_.erase(running);
  }
  if (!failure.empty()) throw Error(failure, FailureKind::Resolve);
  answers_[name] = Answer{addresses, Clock::now() + kKeepAnswers};
  return addresses;
}

Resolver& ProcessResolver() {
  // Never destroyed: detached requests may still look names up while the process ends.
  static Resolver* const process = new Resolver();
  return *process;
}

}  // namespace sion
