#include "transport/WorkerPool.h"

#include <cstdio>
#include <stdexcept>

#include "platform/Socket.h"
#include "transport/Messages.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// Bound of the wait at library unload and process exit: idle workers end at once, busy ones
// give up their request at its next network wait; only a slow completion function can be cut.
constexpr std::chrono::milliseconds kUnloadWait{1000};

// The pool whose worker runs on this thread, so that Stop called from a completion function
// does not wait for its own caller.
thread_local const WorkerPool* currentPool = nullptr;

void Report(const char* text) {
  std::fputs(text, stderr);
  std::fputs("\n", stderr);
}

}  // namespace

WorkerPool::WorkerPool(int workerCount) : threadCount(workerCount) {}

WorkerPool::~WorkerPool() { Stop(); }

void WorkerPool::Start() {
  std::lock_guard<std::mutex> lock(queueMutex);
  if (started) throw std::logic_error(messages::kPoolStartedTwice);
  started = true;
  if (stop) return;
  // A failure to create a thread propagates; the workers made so far keep running.
  for (int index = 0; index < threadCount; ++index) {
    auto entry = threads.emplace(index, std::thread(&WorkerPool::Worker, this, index)).first;
    entry->second.detach();
  }
}

void WorkerPool::Submit(std::function<Request()> maker, std::function<void(AsyncResponse)> completion) {
  // The maker runs unlocked: it is SDK code and may itself want the pool.
  Request request = maker();
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    if (stop) return;
    queue.push_back(Task{std::move(request), std::move(completion), 0});
  }
  taskAvailable.notify_one();
}

void WorkerPool::Stop() {
  std::deque<Task> dropped;
  std::unique_lock<std::mutex> lock(queueMutex);
  dropped = RequestStop(lock);
  WaitForWorkers(lock, nullptr);
  lock.unlock();
}

bool WorkerPool::StopWithin(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::deque<Task> dropped;
  std::unique_lock<std::mutex> lock(queueMutex);
  dropped = RequestStop(lock);
  const bool ended = WaitForWorkers(lock, &deadline);
  lock.unlock();
  return ended;
}

void WorkerPool::StopForUnload(bool processTerminating) {
  if (processTerminating) {
    // The workers are gone, perhaps killed while holding the mutex: touch nothing else.
    stop.store(true);
    return;
  }
  StopWithin(kUnloadWait);
}

std::deque<Task> WorkerPool::RequestStop(std::unique_lock<std::mutex>&) {
  // Raised under the lock, so no worker can test the flag and then start waiting after the
  // wake-up below.
  stop.store(true);
  std::deque<Task> dropped;
  dropped.swap(queue);
  taskAvailable.notify_all();
  return dropped;
}

bool WorkerPool::WaitForWorkers(std::unique_lock<std::mutex>& lock,
                                const std::chrono::steady_clock::time_point* deadline) {
  const bool fromWorker = currentPool == this;
  if (fromWorker) ++stoppingWorkers;
  const auto allEnded = [this] { return threads.size() <= static_cast<std::size_t>(stoppingWorkers); };
  bool ended = true;
  if (deadline == nullptr) {
    taskAvailable.wait(lock, allEnded);
  } else {
    ended = taskAvailable.wait_until(lock, *deadline, allEnded);
  }
  if (fromWorker) --stoppingWorkers;
  return ended;
}

void WorkerPool::Worker(int index) {
  try {
    RunTasks();
  } catch (...) {
    // Nothing may leave a thread; the worker just ends.
  }
  std::lock_guard<std::mutex> lock(queueMutex);
  threads.erase(index);
  // Under the lock: once it is released a waiting Stop may return and the pool be destroyed.
  taskAvailable.notify_all();
}

void WorkerPool::RunTasks() {
  zarnplatform::BlockSigpipeOnThisThread();
  currentPool = this;
  ScopedCancelFlag cancel(&stop);
  struct ClearCurrentPool {
    ~ClearCurrentPool() { currentPool = nullptr; }
  } clearCurrentPool;

  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(queueMutex);
      taskAvailable.wait(lock, [this] { return stop.load() || !queue.empty(); });
      if (stop) return;
      task = std::move(queue.front());
      queue.pop_front();
    }
    try {
      RunTask(task);
    } catch (...) {
      // A task must never end the worker.
    }
  }
}

void WorkerPool::RunTask(Task& task) {
  if (stop) return;
  AsyncResponse outcome;
  outcome.id = task.id;
  try {
    outcome.resp = task.request.Send(task.request.url);
  } catch (const std::exception& e) {
    outcome.err = e.what();
  } catch (...) {
    outcome.err = messages::kUnknownException;
  }
  // A pool that is stopping delivers nothing more.
  if (stop) return;
  try {
    if (!task.callback) throw std::bad_function_call();
    task.callback(std::move(outcome));
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report(messages::kUnknownException);
  }
}

}  // namespace sion
