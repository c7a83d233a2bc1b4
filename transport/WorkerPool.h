// The pool of worker threads that sends requests off the caller's thread.
//
// Two lanes: the game's own calls, which a player waits for, and background work (analytics),
// which nobody waits for. A worker always takes the oldest game call first; background tasks
// run on at most kMaxBackgroundShare of the workers at once, so a stalled analytics endpoint can
// never hold every worker while a login waits. A game call's time limit counts from the moment
// it was submitted: queue time is part of what the player waits for.
//
// Threads: Submit may be called from any thread; each request and its completion function run
// on one of the workers. `mutex_` guards the queues and the worker bookkeeping; it is never held
// while a request is sent, a completion function runs or a request maker runs. Completion
// functions of different requests run concurrently, in no fixed order.
// Ownership: the pool owns queued tasks; a completion function receives its AsyncResponse by
// value. Workers are detached; Stop waits for them to end (each in-flight request is cut short
// at its next network wait), so a pool must not be destroyed before Stop has returned - the
// destructor calls Stop.
// Context: each request gets a TransportContext with the pool's connections (kept between
// requests, ConnectionPool), its resolver, its stop flag as the cancel flag, and the time limits
// of the moment it starts. Kept connections idle too long are closed as the pool is next used;
// Stop closes them all, without `mutex_`. The two locks are never held together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "platform/ThreadGroup.h"
#include "platform/ThreadLauncher.h"
#include "transport/ConnectionPool.h"
#include "transport/Error.h"
#include "transport/ProxyConfig.h"
#include "transport/Request.h"
#include "transport/Resolver.h"
#include "transport/Response.h"

namespace sion {

struct AsyncResponse {
  Response resp;        // untouched (initial state) when the request failed
  std::string err;      // empty on success; else the failure text (may be empty: peer closed)
  FailureKind kind = FailureKind::Other;  // with `err`: what failed
};

enum class Lane { Game, Background };

class WorkerPool {
 public:
  static constexpr int kDefaultThreadCount = 6;

  // `lookup`: how its requests look names up (empty: the system's resolver); a test's seam.
  // `readProxies` reads the machine's proxy settings when the pool starts (not at construction,
  // which may run while the library loads); they go with every request that carries none of
  // its own. Without it every request goes direct.
  explicit WorkerPool(int workerCount = kDefaultThreadCount, ThreadLauncher launcher = DefaultThreadLauncher(),
                      NameLookup lookup = {}, std::function<ProxyConfig()> readProxies = nullptr);
  ~WorkerPool();  // Stop()
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Creates the workers; true when all of them run. A second call after a successful one throws
  // std::logic_error("一个线程池实例只能start一次"). When a thread cannot be created the workers
  // already made are ended and the pool is as before the call, so Start may be tried again;
  // tasks queued before it are dropped.
  bool Start() EXCLUDES(mutex_);

  // Runs `maker` on the calling thread and queues the request it returns; `completion` is
  // called exactly once on a worker with the outcome, unless the pool stops first. Requests
  // submitted after Stop are dropped without a call. An empty maker throws
  // std::bad_function_call; exceptions from `maker` propagate to the caller.
  void Submit(std::function<Request()> maker, std::function<void(AsyncResponse)> completion,
              Lane lane = Lane::Game) EXCLUDES(mutex_);
  // As Submit, but the request is not sent before `notBefore` (a retry's back-off); its time
  // limit counts from then. Dropped like any queued task when the pool stops first.
  void SubmitAt(std::chrono::steady_clock::time_point notBefore, std::function<Request()> maker,
                std::function<void(AsyncResponse)> completion, Lane lane) EXCLUDES(mutex_);

  // Ends the workers and waits until every one has ended: idle ones at once, busy ones after
  // their request is cut short and any completion already running has returned. Kept
  // connections are closed. Every game call not answered yet, running or queued, hears back
  // once before Stop returns, with the error text "请求已取消" (on its worker, or for queued ones
  // on the calling thread); queued background work is dropped. Safe to call repeatedly and from a completion
  // function (then it waits for all other workers; the calling worker ends after its completion
  // function returns).
  void Stop() EXCLUDES(mutex_);

  // Stop with a bounded wait; true when every worker ended within `limit`. Kept connections
  // are closed either way, and so is any a late worker would still keep.
  bool StopWithin(std::chrono::milliseconds limit) EXCLUDES(mutex_);

  // For the library's unload and process exit. With `processTerminating` (Windows kills the
  // workers before unloading) it only raises the stop flag and neither locks nor waits;
  // otherwise it stops with a short bounded wait so the game's exit never hangs.
  void StopForUnload(bool processTerminating);

 private:
  struct Task {
    Request request;
    std::function<void(AsyncResponse)> callback;
    Lane lane = Lane::Game;
    std::chrono::steady_clock::time_point submitted;
  };

  void RunTasks() EXCLUDES(mutex_);
  // Waits until there is a task to take, or `stop_`.
  void AwaitWork(zarnplatform::MutexLock& lock) REQUIRES(mutex_);
  void RunTask(Task& task);
  // A game call cut short by Stop: its completion hears "请求已取消".
  static void AnswerCut(Task& task);
  bool HasRunnableTask() const REQUIRES(mutex_);
  // Moves the delayed tasks whose time has come into their lanes; returns when the next is due.
  std::chrono::steady_clock::time_point ReleaseDueTasks() REQUIRES(mutex_);
  Task TakeTask() REQUIRES(mutex_);
  // Raises the stop flag and takes the queued tasks out (the caller destroys them unlocked).
  std::deque<Task> RequestStop() REQUIRES(mutex_);

  const int threadCount_;
  const std::function<ProxyConfig()> readProxies_;
  const int maxBackgroundWorkers_;
  zarnplatform::Mutex mutex_;
  zarnplatform::CondVar changed_;  // a queue changed, stop requested, or a worker ended
  std::deque<Task> gameQueue_ GUARDED_BY(mutex_);
  std::deque<Task> backgroundQueue_ GUARDED_BY(mutex_);
  std::multimap<std::chrono::steady_clock::time_point, Task> delayed_ GUARDED_BY(mutex_);
  int backgroundBusy_ GUARDED_BY(mutex_) = 0;
  bool started_ GUARDED_BY(mutex_) = false;
  // Bumped when idle workers must work out again when to wake up: a delayed task came.
  std::uint64_t scheduleChanges_ GUARDED_BY(mutex_) = 0;
  std::shared_ptr<const ProxyConfig> proxies_ GUARDED_BY(mutex_);  // set by Start
  std::atomic<bool> stop_{false};
  std::atomic<bool> answerCut_{false};  // Stop (not the unload) answers the game calls it cuts
  ConnectionPool connections_;
  Resolver resolver_;
  zarnplatform::ThreadGroup workers_;
};

}  // namespace sion
