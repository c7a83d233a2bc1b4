#include "Sdk/ZarnLog.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Mutex.h"
#include "platform/Platform.h"
#include "platform/Utf8.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

constexpr char kLogFileName[] = "zarnlog.log";
constexpr char kHidden[] = "***";
constexpr int32_t kNoHandler = INT32_MAX;

// The exit gate: its high bit closes it, the rest counts the lines inside the file log. Plain
// atomics, which static destruction leaves alone.
constexpr uint32_t kGateClosed = 1u << 31;
std::atomic<uint32_t> gate{0};
std::atomic<bool> fileLogOn{false};
std::atomic<int32_t> handlerFloor{kNoHandler};  // the least level the game's handler takes

// The log file. It can hold the session token, the Steam ticket and the app key, so the SDK
// opens it itself - only while logging is on, private to the user, never through a link planted
// under its name - instead of leaving that to the logging library.
class LogFile {
 public:
  void SetOpen(bool open) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (!open) {
      file_.Close();
    } else if (!file_.IsOpen()) {
      file_.Open(kLogFileName);
    }
  }
  void Append(const std::string& line) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    file_.Append(line);
  }

 private:
  zarnplatform::Mutex mutex_;
  zarnplatform::PrivateAppendFile file_ GUARDED_BY(mutex_);
};

LogFile& TheLogFile() {
  static LogFile* file = new LogFile();  // SDK threads may log while the process ends
  return *file;
}

// Runs for every line the logger lets through (its levels decide), under the logger's lock.
class FileDispatch : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData* data) override {
    if (data->dispatchAction() != el::base::DispatchAction::NormalLog) return;
    const el::LogMessage* message = data->logMessage();
    TheLogFile().Append(message->logger()->logBuilder()->build(message, true));
  }
};

el::Level LibraryLevel(LogLevel level) {
  switch (level) {
    case LogLevel::Debug:
      return el::Level::Debug;
    case LogLevel::Info:
      return el::Level::Info;
    case LogLevel::Warning:
      return el::Level::Warning;
    case LogLevel::Error:
      break;
  }
  return el::Level::Error;
}

void WriteToFileLog(LogLevel level, const std::string& text) {
  if ((gate.fetch_add(1) & kGateClosed) == 0) {
    el::base::Writer(LibraryLevel(level), __FILE__, __LINE__, ELPP_FUNC)
            .construct(1, el::base::consts::kDefaultLoggerId)
        << text;
  }
  gate.fetch_sub(1);
}

// The game's handler, and the calls of it under way. Calls of the current handler and of
// earlier ones are counted apart, so that a change waits only for the earlier ones.
struct Handler {
  zarnplatform::Mutex mutex;
  zarnplatform::CondVar earlierCallsEnded;
  LogHandler function GUARDED_BY(mutex) = nullptr;
  void* user GUARDED_BY(mutex) = nullptr;
  int32_t floor GUARDED_BY(mutex) = kNoHandler;
  uint64_t generation GUARDED_BY(mutex) = 0;
  int currentCalls GUARDED_BY(mutex) = 0;
  int earlierCalls GUARDED_BY(mutex) = 0;
};

Handler& TheHandler() {
  static Handler* handler = new Handler();  // reached by threads while the process ends
  return *handler;
}

// How deep this thread is in calls of the game's handler.
thread_local int inHandler = 0;

void CallHandler(LogLevel level, const std::string& message) {
  if ((gate.load() & kGateClosed) != 0) return;
  Handler& h = TheHandler();
  LogHandler function = nullptr;
  void* user = nullptr;
  uint64_t generation = 0;
  {
    MutexLock lock(h.mutex);
    if (h.function == nullptr || static_cast<int32_t>(level) < h.floor) return;
    function = h.function;
    user = h.user;
    generation = h.generation;
    ++h.currentCalls;
  }
  ++inHandler;
  try {
    function(static_cast<int32_t>(level), message.c_str(), user);
  } catch (...) {
    // The game's exception ends its handler's call and nothing else.
  }
  --inHandler;
  MutexLock lock(h.mutex);
  if (generation == h.generation) {
    --h.currentCalls;
  } else if (--h.earlierCalls == 0) {
    h.earlierCallsEnded.NotifyAll();
  }
}

// Lines logged while this thread held a lock of the SDK, for its handler once it holds none.
struct Deferred {
  LogLevel level;
  std::string message;
};
thread_local std::vector<Deferred>* deferred = nullptr;

void CallHandlerWithDeferred() {
  while (std::vector<Deferred>* lines = std::exchange(deferred, nullptr)) {
    for (const Deferred& line : *lines) CallHandler(line.level, line.message);
    delete lines;
  }
}

// The game's form of a line: valid UTF-8 on one line, without the breaks around it.
std::string OneLine(const std::string& text) {
  std::string line = zarnplatform::SanitizeUtf8(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

void HandToGame(LogLevel level, const std::string& text) {
  if (inHandler > 0) return;  // the handler's own SDK calls: not handed back to it
  std::string message = OneLine(text);
  if (zarnplatform::LocksHeldByThisThread() == 0) return CallHandler(level, message);
  if (deferred == nullptr) deferred = new std::vector<Deferred>();
  deferred->push_back({level, std::move(message)});
  zarnplatform::RunAfterLastLockReleased(&CallHandlerWithDeferred);
}

}  // namespace

bool LogWanted(LogLevel level) noexcept {
  if ((gate.load(std::memory_order_relaxed) & kGateClosed) != 0) return false;
  return fileLogOn.load(std::memory_order_relaxed) ||
         static_cast<int32_t>(level) >= handlerFloor.load(std::memory_order_relaxed);
}

LogLine::LogLine(LogLevel level)
    : level_(level),
      toFile_(fileLogOn.load(std::memory_order_relaxed)),
      toGame_(static_cast<int32_t>(level) >= handlerFloor.load(std::memory_order_relaxed)) {}

LogLine& LogLine::operator<<(Secret secret) {
  if (toFile_) file_ += secret.text;
  if (toGame_ && !secret.text.empty()) game_ += kHidden;
  return *this;
}

LogLine& LogLine::operator<<(GbkText text) {
  const std::string_view bytes(text.bytes);
  if (toFile_) file_ += bytes;
  // Should the system lack the code page, the Chinese characters read as U+FFFD.
  if (toGame_) game_ += zarnplatform::GbkToUtf8(bytes).value_or(std::string(bytes));
  return *this;
}

LogLine::~LogLine() {
  try {
    if (toFile_ && fileLogOn.load()) WriteToFileLog(level_, file_);
    if (toGame_) HandToGame(level_, game_);
  } catch (...) {
    // Out of memory: the line is lost, not the caller.
  }
}

void ConfigureLogger(bool enabled) {
  // Reconfiguration is rare (start-up, test-device reply); serialise it so two workers cannot
  // interleave the steps. Logging itself is guarded by easylogging++'s thread-safe mode.
  static std::mutex reconfigureMutex;
  std::lock_guard<std::mutex> lock(reconfigureMutex);

  // The flag word and the callback list are read by every logging thread: set them once, on
  // the first configuration (start-up, before the SDK's own threads exist), never again.
  static std::once_flag once;
  std::call_once(once, [] {
    el::Loggers::addFlag(el::LoggingFlag::NewLineForContainer);
    el::Helpers::installLogDispatchCallback<FileDispatch>("zarn-log-file");
  });
  el::Configurations conf;
  conf.setToDefault();
  conf.setGlobally(el::ConfigurationType::ToFile, "false");
  conf.setGlobally(el::ConfigurationType::Format, "%datetime [%level]: %msg");
  conf.setGlobally(el::ConfigurationType::Enabled, enabled ? "true" : "false");
  // Opened before the levels are enabled, closed after they are disabled.
  if (enabled) TheLogFile().SetOpen(true);
  el::Loggers::reconfigureLogger("default", conf);
  fileLogOn.store(enabled);
  if (!enabled) TheLogFile().SetOpen(false);
}

void SetLogHandler(int32_t minLevel, LogHandler handler, void* user) {
  Handler& h = TheHandler();
  MutexLock lock(h.mutex);
  h.function = handler;
  h.user = handler != nullptr ? user : nullptr;
  h.floor = handler == nullptr ? kNoHandler : std::max(minLevel, static_cast<int32_t>(LogLevel::Debug));
  handlerFloor.store(h.floor);
  ++h.generation;
  h.earlierCalls += std::exchange(h.currentCalls, 0);
  if (inHandler == 0) h.earlierCallsEnded.Wait(lock, [&h] {
    h.mutex.AssertHeld();
    return h.earlierCalls == 0;
  });
}

void StopLoggingForExit(bool threadsAreGone) {
  if ((gate.fetch_or(kGateClosed) & kGateClosed) != 0 || threadsAreGone) return;
  while ((gate.load() & ~kGateClosed) != 0) std::this_thread::yield();
}

}  // namespace ZarnSdk
