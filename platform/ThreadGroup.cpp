#include "platform/ThreadGroup.h"

#include <utility>

#include "platform/Guarded.h"

namespace zarnplatform {
namespace {

thread_local const ThreadGroup* groupOfThisThread = nullptr;

}  // namespace

bool ThreadGroup::Start(const char* what, std::function<void()> body) noexcept {
  {
    // Counted before it runs, so that no wait misses a thread that ends at once.
    MutexLock lock(mutex_);
    ++running_;
  }
  bool started = false;
  try {
    started = launcher_([this, what, body = std::move(body)]() mutable {
      groupOfThisThread = this;
      Guarded(what, [&body] {
        // Destroyed before the end is counted: what it holds may belong to the group's owner.
        const std::function<void()> run = std::move(body);
        run();
      });
      Ended();
    });
  } catch (...) {
  }
  if (!started) Ended();
  return started;
}

bool ThreadGroup::OnOwnThread() const noexcept { return groupOfThisThread == this; }

void ThreadGroup::Ended() noexcept {
  MutexLock lock(mutex_);
  --running_;
  // Under the lock: once it is released a waiting owner may return and destroy the group.
  changed_.NotifyAll();
}

bool ThreadGroup::Wait(const std::chrono::steady_clock::time_point* deadline) noexcept {
  const bool own = OnOwnThread();
  MutexLock lock(mutex_);
  if (own) {
    ++waiting_;
    // Another thread of the group may be waiting for this one.
    changed_.NotifyAll();
  }
  const auto over = [this, own] {
    mutex_.AssertHeld();
    return own ? running_ <= waiting_ : running_ == 0;
  };
  bool inTime = true;
  if (deadline == nullptr) {
    changed_.Wait(lock, over);
  } else {
    inTime = changed_.WaitUntil(lock, *deadline, over);
  }
  if (own) --waiting_;
  return inTime;
}

}  // namespace zarnplatform
