// Name lookups that never hold the asking thread longer than it is willing to wait.
//
// The system's resolver cannot be interrupted: a name server that never answers holds a lookup
// for as long as the system retries (ten seconds and more). So each lookup runs on a thread of
// its own, and the asker waits for its answer only until its deadline or its cancel flag; an
// answer nobody waits for any more is dropped. The lookup thread owns (shared) only the lookup's
// own result slot, never the resolver or anything else of the SDK, so it may outlive them all;
// it keeps the library's code mapped until it ends (zarnplatform::StartDetachedThread).
//
// Answers are kept for kKeepAnswers per name; failures are not kept. Askers of a name whose
// lookup is still running share it rather than starting another.
//
// Threads: Resolve may be called from any thread. `mutex_` guards the kept answers and the
// running lookups; it is never held while waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "platform/Socket.h"

namespace sion {

// The blocking lookup a Resolver runs on its threads: the addresses of a name in the order to
// try them, or a std::exception whose text is the failure. Tests put in their own (a name
// server that never answers, a name with several loopback addresses).
using NameLookup = std::function<std::vector<zarnplatform::IpAddress>(const std::string& name)>;

class Resolver {
 public:
  static constexpr std::chrono::seconds kKeepAnswers{60};
  // A lookup running this long is not joined by new askers: they start afresh, as the network
  // may have come back meanwhile.
  static constexpr std::chrono::seconds kStaleLookup{30};

  explicit Resolver(NameLookup lookup = zarnplatform::LookUpName);
  Resolver(const Resolver&) = delete;
  Resolver& operator=(const Resolver&) = delete;

  // The addresses of `name` (never empty). Waits at most until `deadline`, and gives up within
  // about 20 ms once `cancel` (may be null) is true. Throws sion::Error (kind Resolve) with the
  // lookup's text, or sion::WaitEnded "网络超时:resolve <name>" (Timeout) or "请求已取消"
  // (Cancelled).
  std::vector<zarnplatform::IpAddress> Resolve(const std::string& name, std::chrono::steady_clock::time_point deadline,
                                               const std::atomic<bool>* cancel) EXCLUDES(mutex_);

 private:
  struct Lookup;
  struct Answer {
    std::vector<zarnplatform::IpAddress> addresses;
    std::chrono::steady_clock::time_point until;
  };

  std::shared_ptr<Lookup> StartLookup(const std::string& name) REQUIRES(mutex_);

  const NameLookup lookup_;
  zarnplatform::Mutex mutex_;
  std::map<std::string, Answer> answers_ GUARDED_BY(mutex_);
  std::map<std::string, std::shared_ptr<Lookup>> running_ GUARDED_BY(mutex_);
};

// The resolver of exchanges whose context names none: one for the whole process, never destroyed.
Resolver& ProcessResolver();

}  // namespace sion
