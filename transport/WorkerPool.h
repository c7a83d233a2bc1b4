// The process-wide pool of worker threads that sends requests off the caller's thread.
//
// Threads: Submit may be called from any thread; each request and its completion function run
// on one of the workers. `queueMutex` guards `queue`, `threads` and `started`; it is never held
// while a request is sent or a completion function runs, nor while a request maker runs.
// Completion functions of different requests run concurrently, in no fixed order.
// Ownership: the pool owns queued tasks; a completion function receives its AsyncResponse by
// value. Workers are detached; Stop waits for them to end (each in-flight request is cut short
// at its next network wait), so a pool must not be destroyed before Stop has returned - the
// destructor calls Stop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "transport/Request.h"
#include "transport/Response.h"

namespace sion {

struct AsyncResponse {
  Response resp;        // untouched (initial state) when the request failed
  int32_t id = 0;
  std::string err;      // empty on success; else the failure text (may be empty: peer closed)
};

struct Task {
  Request request;
  std::function<void(AsyncResponse)> callback;
  int32_t id = 0;
};

class WorkerPool {
 public:
  static constexpr int kDefaultThreadCount = 6;

  explicit WorkerPool(int workerCount = kDefaultThreadCount);
  ~WorkerPool();  // Stop()
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Creates the workers. A second call throws std::logic_error("一个线程池实例只能start一次").
  void Start();

  // Runs `maker` on the calling thread and queues the request it returns; `completion` is
  // called exactly once on a worker with the outcome, unless the pool stops first. Requests
  // submitted after Stop are dropped without a call. An empty maker throws
  // std::bad_function_call; exceptions from `maker` propagate to the caller.
  void Submit(std::function<Request()> maker, std::function<void(AsyncResponse)> completion);

  // Ends the workers and waits until every one has ended: idle ones at once, busy ones after
  // their request is cut short and any completion already running has returned. Queued tasks
  // are dropped. Safe to call repeatedly and from a completion function (then it waits for all
  // other workers; the calling worker ends after its completion function returns).
  void Stop();

  // Stop with a bounded wait; true when every worker ended within `limit`.
  bool StopWithin(std::chrono::milliseconds limit);

  // For the library's unload and process exit. With `processTerminating` (Windows kills the
  // workers before unloading) it only raises the stop flag and neither locks nor waits;
  // otherwise it stops with a short bounded wait so the game's exit never hangs.
  void StopForUnload(bool processTerminating);

 private:
  void Worker(int index);
  void RunTasks();
  void RunTask(Task& task);
  // Raises the stop flag and takes the queued tasks out (the caller destroys them unlocked).
  std::deque<Task> RequestStop(std::unique_lock<std::mutex>& lock);
  // Waits until every worker has ended, apart from workers that are themselves inside Stop;
  // without a deadline when `deadline` is null. True when they all ended.
  bool WaitForWorkers(std::unique_lock<std::mutex>& lock, const std::chrono::steady_clock::time_point* deadline);

  const int threadCount;
  std::deque<Task> queue;
  std::mutex queueMutex;
  std::condition_variable taskAvailable;  // queue changed, stop requested, or a worker ended
  std::map<int, std::thread> threads;     // live workers by index; a worker removes its own entry
  bool started = false;
  int stoppingWorkers = 0;                // workers currently waiting inside Stop
  std::atomic<bool> stop{false};
};

}  // namespace sion
