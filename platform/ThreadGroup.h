// The threads one object starts, counted so that the object can wait for all of them to end,
// also from one of them: a thread of the group that waits does not wait for itself.
//
// Threads: every member on any thread. `mutex_` guards the counts; it is the innermost lock of
// all (an owner may start a thread under its own lock). Ownership: the group outlives its
// threads, so its owner destroys it only after a wait from outside the group has returned true.
#pragma once

#include <chrono>
#include <functional>

#include "platform/Mutex.h"
#include "platform/ThreadLauncher.h"

namespace zarnplatform {

class ThreadGroup {
 public:
  explicit ThreadGroup(sion::ThreadLauncher launcher) : launcher_(std::move(launcher)) {}
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  // Runs `body` on a new thread of the group; false when none could be started. An exception
  // out of `body` is written to standard error with `what`, and ends the thread.
  bool Start(const char* what, std::function<void()> body) noexcept EXCLUDES(mutex_);
  // Whether the calling thread is one of the group's.
  bool OnOwnThread() const noexcept;
  // Until every thread of the group has ended. From one of them: until every other one has
  // ended or is waiting here too.
  void WaitAll() noexcept EXCLUDES(mutex_) { Wait(nullptr); }
  // As WaitAll, for at most until `deadline`; true when the wait was over in time.
  bool WaitAllUntil(std::chrono::steady_clock::time_point deadline) noexcept EXCLUDES(mutex_) {
    return Wait(&deadline);
  }

 private:
  bool Wait(const std::chrono::steady_clock::time_point* deadline) noexcept EXCLUDES(mutex_);
  void Ended() noexcept EXCLUDES(mutex_);

  const sion::ThreadLauncher launcher_;
  Mutex mutex_;
  CondVar changed_;  // a thread ended, or one of them began to wait
  int running_ GUARDED_BY(mutex_) = 0;
  int waiting_ GUARDED_BY(mutex_) = 0;  // threads of the group inside a wait
};

}  // namespace zarnplatform
