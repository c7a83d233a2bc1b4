// The shared test harness: temporary folders, scoped environment variables, condition waits
// with a deadline, a recorder for the SDK's plain-function callbacks, and child processes of
// the test program itself. Everything that touches the OS goes through Os.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zarntest {

using namespace std::chrono_literals;

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
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// Makes a file unreadable until released: held open sharing nothing or reading only (null where
// files have no sharing modes), or moved aside for a folder in its way (back on release).
enum class FileBlock { FolderInTheWay, HeldSharingNothing, HeldSharingReads };
std::shared_ptr<void> BlockFile(const std::filesystem::path& path, FileBlock how);

// UTF-8 of a wide string (UTF-32 or UTF-16), independent of the SDK's converter.
std::string Narrow(const std::wstring& w);

struct CallbackRecord {
  int code = 0;
  std::string msg;
  std::string data;
  std::thread::id thread;
};

// Records calls of the game's callbacks, their texts as UTF-8 whichever interface delivered them.
class CallbackLog {
 public:
  void Add(int code, std::string msg, std::string data);
  // Until at least `count` calls arrived; false on timeout.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = 15s);
  std::vector<CallbackRecord> Records();
  // The only record; fails the test unless exactly one arrived within the timeout.
  CallbackRecord Single(std::chrono::milliseconds timeout = 15s);
  size_t Count();
  void Clear();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<CallbackRecord> records_;
};

// Slot logs are emptied when each test starts.
CallbackLog* RegisterSlotLog(CallbackLog* log);

// The SDK's callback is a plain function pointer without context, so each recorder has its own
// static trampolines: CallbackSlot<N>::fn for the C++ exports, ::utf8 for the C interface and the SDK.
template <int N>
struct CallbackSlot {
  static CallbackLog& log() {
    // Never destroyed: SDK threads may report at process exit.
    static CallbackLog* instance = RegisterSlotLog(new CallbackLog());
    return *instance;
  }
  static void fn(int code, std::wstring msg, std::wstring data) { log().Add(code, Narrow(msg), Narrow(data)); }
  static void utf8(int code, const char* msg, const char* data, void*) { log().Add(code, msg, data); }
};

// ---- child processes of the test program: a restarted game, a crash, an unload. A role runs
// instead of the tests when the program is started with --zarn-child=<name>; the parent's
// environment (plus `env`) is passed on. Returns the child's exit status.
using ChildMain = int (*)();
struct ChildRole {
  ChildRole(const char* name, ChildMain main);
};
int RunChild(const std::string& role, const std::map<std::string, std::string>& env = {});

#define ZARN_CHILD_ROLE(name)                                          \
  static int name##ChildMain();                                        \
  static const ::zarntest::ChildRole name##Role(#name, name##ChildMain); \
  static int name##ChildMain()

}  // namespace zarntest
