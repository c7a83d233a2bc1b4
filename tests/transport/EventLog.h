// An ordered, thread-safe record of what happened in a test, with waits on its content.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace zarntest {

class EventLog {
 public:
  void Add(std::string event) {
    // Notified under the lock, so a waiter that returns may destroy the log at once.
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }

  // Waits until `event` was recorded; false after `timeout`.
  bool WaitFor(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return Position(event) >= 0; });
  }

  // Waits until `count` events starting with `prefix` were recorded.
  bool WaitForCount(const std::string& prefix, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountLocked(prefix) >= count; });
  }

  std::size_t Count(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(prefix);
  }

  // Index of `event` in the record, -1 when absent.
  long IndexOf(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Position(event);
  }

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  long Position(const std::string& event) const {
    auto it = std::find(events_.begin(), events_.end(), event);
    return it == events_.end() ? -1 : static_cast<long>(it - events_.begin());
  }
  std::size_t CountLocked(const std::string& prefix) const {
    return static_cast<std::size_t>(std::count_if(
        events_.begin(), events_.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

}  // namespace zarntest
