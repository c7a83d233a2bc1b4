#include "Sdk/ZarnLog.h"

#include <mutex>

#include "platform/Mutex.h"
#include "platform/Platform.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

constexpr char kLogFileName[] = "zarnlog.log";

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

}  // namespace

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
  if (!enabled) TheLogFile().SetOpen(false);
}

}  // namespace ZarnSdk
