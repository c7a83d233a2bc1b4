#include "Sdk/SdkInstance.h"

#include <cstdlib>
#include <utility>

#include "Sdk/SteamApiPort.h"

namespace ZarnSdk {
namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool IsAbsolutePath(const std::string& path) {
  // "/x" and "\\server\x" anywhere, "C:\x" and "C:/x" on Windows.
  if (path[0] == '/' || path[0] == '\\') return true;
  return path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

}  // namespace

SdkOptions SdkOptions::FromEnvironment() {
  SdkOptions options;
  options.apiOrigin = Environment("ZARN_SDK_API_ORIGIN").value_or(ZARN_API_ORIGIN);
  if (auto data = Environment("ZARN_SDK_DATA_HOME"); data && IsAbsolutePath(*data)) options.localDataFolder = data;
  return options;
}

SdkInstance::SdkInstance(SdkOptions options)
    : steamPort_(options.steam ? std::move(options.steam) : std::make_unique<SteamApiPort>()),
      store_(std::move(options.localDataFolder)),
      pool_(options.workerCount, options.threadLauncher),
      http_(pool_),
      api_(http_, ApiEndpoints::FromOrigin(options.apiOrigin), session_),
      delivery_(store_, api_, options.threadLauncher, options.eventDelivery),
      track_(session_, delivery_),
      pay_(api_, session_, track_, options.payResultRetryDelay),
      user_(api_, session_, track_),
      steam_(*steamPort_, pay_, user_, options.steamTimings, options.threadLauncher),
      core_({session_, store_, pool_, api_, track_, delivery_, pay_, steam_}) {}

void SdkInstance::StopForUnload(bool processTerminating) {
  pool_.StopForUnload(processTerminating);
  if (!processTerminating) delivery_.Stop();
}

SdkInstance::~SdkInstance() {
  steam_.Exit();
  pool_.Stop();
  delivery_.Stop();
}

}  // namespace ZarnSdk
