#include "transport/WorkerPool.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/Socket.h"
#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

using zarnplatform::MutexLock;

// Bound of the wait at library unload and process exit: idle workers end at once, busy ones
// give up their request at its next network wait; only a slow completion function can be cut.
constexpr std::chrono::milliseconds kUnloadWait{1000};

void Report(const char* text) {
  std::fputs(text, stderr);
  std::fputs("\n", stderr);
}

}  // namespace

WorkerPool::WorkerPool(int workerCount, ThreadLauncher launcher, NameLookup lookup,
                       std::function<ProxyConfig()> readProxies)
    : threadCount_(workerCount),
      readProxies_(std::move(readProxies)),
      maxBackgroundWorkers_(std::max(1, workerCount / 3)),
      resolver_(lookup ? std::move(lookup) : NameLookup(zarnplatform::LookUpName)),
      workers_(std::move(launcher)) {}

WorkerPool::~WorkerPool() { Stop(); }

bool WorkerPool::Start() {
  std::deque<Task> dropped;  // destroyed unlocked
  std::shared_ptr<const ProxyConfig> proxies;
  if (readProxies_) proxies = std::make_shared<const ProxyConfig>(readProxies_());
  MutexLock lock(mutex_);
  if (started_) throw std::logic_error(messages::kPoolStartedTwice);
  if (stop_) return false;
  started_ = true;
  proxies_ = std::move(proxies);
  for (int index = 0; index < threadCount_; ++index) {
    if (workers_.Start("HTTP worker", [this] { RunTasks(); })) continue;
    // A half-started pool would look started and never run all its lanes: end the workers
    // made so far and go back to the state before the call, so a later start can try again.
    dropped = RequestStop();
    lock.Unlock();
    workers_.WaitAll();
    MutexLock relock(mutex_);
    stop_.store(false);
    started_ = false;
    return false;
  }
  return true;
}

void WorkerPool::Submit(std::function<Request()> maker, std::function<void(AsyncResponse)> completion, Lane lane) {
  // The maker runs unlocked: it is SDK code and may itself want the pool.
  Request request = maker();
  {
    MutexLock lock(mutex_);
    if (stop_) return;
    Task task{std::move(request), std::move(completion), lane, std::chrono::steady_clock::now()};
    (lane == Lane::Game ? gameQueue_ : backgroundQueue_).push_back(std::move(task));
  }
  // One task wants one worker; waking every idle one costs each a futile turn per request.
  changed_.NotifyOne();
}

void WorkerPool::SubmitAt(std::chrono::steady_clock::time_point notBefore, std::function<Request()> maker,
                          std::function<void(AsyncResponse)> completion, Lane lane) {
  Request request = maker();
  {
    MutexLock lock(mutex_);
    if (stop_) return;
    delayed_.emplace(notBefore, Task{std::move(request), std::move(completion), lane, notBefore});
    // It may be due before the moment the idle workers wait for.
    ++scheduleChanges_;
  }
  changed_.NotifyAll();
}

void WorkerPool::Stop() {
  std::deque<Task> dropped;
  {
    MutexLock lock(mutex_);
    answerCut_.store(true);
    dropped = RequestStop();
  }
  for (Task& task : dropped) {
    if (task.lane == Lane::Game) AnswerCut(task);
  }
  workers_.WaitAll();
  // Unlocked: closing sends TLS close_notify.
  connections_.Close();
}

bool WorkerPool::StopWithin(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::deque<Task> dropped;
  {
    MutexLock lock(mutex_);
    dropped = RequestStop();
  }
  const bool ended = workers_.WaitAllUntil(deadline);
  connections_.Close();
  return ended;
}

void WorkerPool::StopForUnload(bool processTerminating) {
  if (processTerminating) {
    // The workers are gone, perhaps killed while holding the mutex: touch nothing else.
    stop_.store(true);
    return;
  }
  StopWithin(kUnloadWait);
}

std::deque<WorkerPool::Task> WorkerPool::RequestStop() {
  // Raised under the lock, so no worker can test the flag and then start waiting after the
  // wake-up below.
  stop_.store(true);
  std::deque<Task> dropped;
  dropped.swap(gameQueue_);
  for (Task& task : backgroundQueue_) dropped.push_back(std::move(task));
  backgroundQueue_.clear();
  for (auto& [due, task] : delayed_) dropped.push_back(std::move(task));
  delayed_.clear();
  changed_.NotifyAll();
  return dropped;
}

bool WorkerPool::HasRunnableTask() const {
  return !gameQueue_.empty() || (!backgroundQueue_.empty() && backgroundBusy_ < maxBackgroundWorkers_);
}

std::chrono::steady_clock::time_point WorkerPool::ReleaseDueTasks() {
  const auto now = std::chrono::steady_clock::now();
  while (!delayed_.empty() && delayed_.begin()->first <= now) {
    Task task = std::move(delayed_.begin()->second);
    delayed_.erase(delayed_.begin());
    (task.lane == Lane::Game ? gameQueue_ : backgroundQueue_).push_back(std::move(task));
  }
  return delayed_.empty() ? std::chrono::steady_clock::time_point::max() : delayed_.begin()->first;
}

WorkerPool::Task WorkerPool::TakeTask() {
  std::deque<Task>& queue = gameQueue_.empty() ? backgroundQueue_ : gameQueue_;
  Task task = std::move(queue.front());
  queue.pop_front();
  if (task.lane == Lane::Background) ++backgroundBusy_;
  if (task.request.proxies == nullptr) task.request.proxies = proxies_;
  return task;
}

void WorkerPool::AwaitWork(MutexLock& lock) {
  for (;;) {
    const auto nextDue = ReleaseDueTasks();
    if (stop_ || HasRunnableTask()) return;
    const std::uint64_t seen = scheduleChanges_;
    const auto ready = [this, seen] {
      mutex_.AssertHeld();
      return stop_.load() || HasRunnableTask() || scheduleChanges_ != seen;
    };
    if (nextDue == std::chrono::steady_clock::time_point::max()) {
      changed_.Wait(lock, ready);
    } else {
      changed_.WaitUntil(lock, nextDue, ready);
    }
  }
}

void WorkerPool::RunTasks() {
  zarnplatform::BlockSigpipeOnThisThread();
  for (;;) {
    Task task;
    {
      MutexLock lock(mutex_);
      AwaitWork(lock);
      if (stop_) return;
      task = TakeTask();
    }
    try {
      RunTask(task);
    } catch (...) {
      // A task must never end the worker.
    }
    if (task.lane == Lane::Background) {
      // A background task that waited for this share is taken by this worker on its next turn.
      MutexLock lock(mutex_);
      --backgroundBusy_;
    }
  }
}

void WorkerPool::RunTask(Task& task) {
  if (stop_) return;
  AsyncResponse outcome;
  try {
    // A game call's limit started when it was submitted; background work's when it starts.
    const auto start = task.lane == Lane::Game ? task.submitted : std::chrono::steady_clock::now();
    TransportContext context;  // the limits of the moment, for requests that start from now
    context.connections = &connections_;
    context.resolver = &resolver_;
    context.cancel = &stop_;
    context.deadline = start + context.timeouts.total;
    if (std::chrono::steady_clock::now() >= context.deadline) {
      throw Error(std::string(messages::kTimeout) + "queue " + task.request.url, FailureKind::Timeout);
    }
    outcome.resp = task.request.Send(task.request.url, context);
  } catch (const Error& e) {
    outcome.err = e.what();
    outcome.kind = e.kind();
  } catch (const std::exception& e) {
    outcome.err = e.what();
  } catch (...) {
    outcome.err = messages::kUnknownException;
  }
  // A pool that is stopping delivers nothing more, but the game hears that its call was cut.
  if (stop_) {
    if (task.lane == Lane::Game && answerCut_) AnswerCut(task);
    return;
  }
  try {
    if (!task.callback) throw std::bad_function_call();
    task.callback(std::move(outcome));
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report(messages::kUnknownException);
  }
}

void WorkerPool::AnswerCut(Task& task) {
  try {
    if (task.callback) task.callback(AsyncResponse{Response(), messages::kCancelled});
  } catch (const std::exception& e) {
    Report(e.what());
  } catch (...) {
    Report(messages::kUnknownException);
  }
}

}  // namespace sion
