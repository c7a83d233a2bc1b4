// A mutex, its scoped lock and a condition variable that clang's thread-safety analysis
// (-Wthread-safety) understands, and the annotation macros used on the members they guard.
// libstdc++'s std::mutex carries no annotations, so code that wants its locking checked uses
// these instead. With other compilers the annotations vanish and the types are thin wrappers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ZARN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZARN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ZARN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ZARN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ZARN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZARN_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) ZARN_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) ZARN_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) ZARN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZARN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZARN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZARN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ZARN_THREAD_ANNOTATION(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS ZARN_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace zarnplatform {

// Per thread: how many Mutexes the thread holds, and one piece of work to run once it holds
// none. Work that must never run under a lock of the SDK's (a call into the game) is deferred
// this way by code that cannot know which locks its caller holds.
namespace heldlocks {
inline thread_local int count = 0;
inline thread_local void (*afterLast)() = nullptr;
}  // namespace heldlocks

inline int LocksHeldByThisThread() { return heldlocks::count; }
// `work` runs on this thread right after it releases its last Mutex (it holds at least one).
// One function per thread: a second registration replaces the first, so `work` should drain
// everything deferred so far.
inline void RunAfterLastLockReleased(void (*work)()) { heldlocks::afterLast = work; }

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() {
    mutex_.lock();
    ++heldlocks::count;
  }
  void unlock() RELEASE() {
    mutex_.unlock();
    if (--heldlocks::count == 0 && heldlocks::afterLast != nullptr) {
      void (*work)() = heldlocks::afterLast;
      heldlocks::afterLast = nullptr;
      work();
    }
  }
  // Tells the analysis that the caller holds the lock where it cannot see it (the predicate of
  // a condition wait runs with the lock held).
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  friend class CondVar;
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() {
    if (locked_) mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // For the few places that must let go early (before calling out of the object).
  void Unlock() RELEASE() {
    locked_ = false;
    mutex_.unlock();
  }

 private:
  friend class CondVar;
  Mutex& mutex_;
  bool locked_ = true;
};

// Waits release the lock while blocked and hold it again when they return, as with
// std::condition_variable. The predicate runs with the lock held.
class CondVar {
 public:
  void NotifyOne() { cv_.notify_one(); }
  void NotifyAll() { cv_.notify_all(); }

  template <class Predicate>
  void Wait(MutexLock& lock, Predicate ready) {
    std::unique_lock<std::mutex> native(lock.mutex_.mutex_, std::adopt_lock);
    cv_.wait(native, ready);
    native.release();
  }

  // False when the deadline passed with `ready` still false.
  template <class Clock, class Duration, class Predicate>
  bool WaitUntil(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline, Predicate ready) {
    std::unique_lock<std::mutex> native(lock.mutex_.mutex_, std::adopt_lock);
    const bool result = cv_.wait_until(native, deadline, ready);
    native.release();
    return result;
  }

  template <class Rep, class Period, class Predicate>
  bool WaitFor(MutexLock& lock, const std::chrono::duration<Rep, Period>& limit, Predicate ready) {
    return WaitUntil(lock, std::chrono::steady_clock::now() + limit, ready);
  }

 private:
  std::condition_variable cv_;
};

}  // namespace zarnplatform
