#include "Sdk/ZarnLog.h"

#include <mutex>

namespace ZarnSdk {

void ConfigureLogger(bool enabled) {
  // Reconfiguration is rare (start-up, test-device reply); serialise it so two workers cannot
  // interleave the two steps. Logging itself is guarded by easylogging++'s thread-safe mode.
  static std::mutex reconfigureMutex;
  std::lock_guard<std::mutex> lock(reconfigureMutex);

  // The flag word is read by every logging thread: write it once, on the first configuration
  // (start-up, before the SDK's own threads exist), never again.
  static std::once_flag flagOnce;
  std::call_once(flagOnce, [] { el::Loggers::addFlag(el::LoggingFlag::NewLineForContainer); });
  el::Configurations conf;
  conf.setToDefault();
  conf.setGlobally(el::ConfigurationType::Filename, "zarnlog.log");
  conf.setGlobally(el::ConfigurationType::Format, "%datetime [%level]: %msg");
  conf.setGlobally(el::ConfigurationType::Enabled, enabled ? "true" : "false");
  el::Loggers::reconfigureLogger("default", conf);
}

}  // namespace ZarnSdk
