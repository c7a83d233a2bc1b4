// Helpers shared by the test programs: temporary folders, scoped environment variables,
// condition waits with a deadline, and a recorder for the SDK's plain-function callbacks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zarntest {

// A fresh folder under the system's temporary folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt, removes) an environment variable and restores the old state.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Polls `condition` until it holds or `timeout` passes; returns the last result. For state
// owned by another process or library where no notification exists.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// Narrow a wide string holding only ASCII/UTF-32 code points to UTF-8 (test-side, independent
// of the SDK's converter).
std::string Narrow(const std::wstring& w);

struct CallbackRecord {
  int code = 0;
  std::wstring msg;
  std::wstring data;
  std::thread::id thread;
};

// Records calls of ResultCallback-shaped functions. The SDK's callback is a plain function
// pointer without context, so each recorder slot has its own static trampoline: use
// CallbackSlot<N>::fn as the callback and CallbackSlot<N>::log() to inspect it.
class CallbackLog {
 public:
  void Add(int code, std::wstring msg, std::wstring data);
  // Waits until at least `count` calls arrived; false on timeout.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(15));
  std::vector<CallbackRecord> Records();
  size_t Count();
  void Clear();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<CallbackRecord> records_;
};

template <int N>
struct CallbackSlot {
  static CallbackLog& log() {
    static CallbackLog instance;
    return instance;
  }
  static void fn(int code, std::wstring msg, std::wstring data) {
    log().Add(code, std::move(msg), std::move(data));
  }
};

}  // namespace zarntest
