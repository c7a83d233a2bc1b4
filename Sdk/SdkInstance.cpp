#include "Sdk/SdkInstance.h"

#include <utility>

#include "Sdk/SteamApiPort.h"
#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"

namespace ZarnSdk {

SdkOptions SdkOptions::FromEnvironment() {
  SdkOptions options;
  options.apiOrigin = zarnplatform::EnvironmentVariable("ZARN_SDK_API_ORIGIN").value_or(ZARN_API_ORIGIN);
  auto data = zarnplatform::EnvironmentVariable("ZARN_SDK_DATA_HOME");
  if (data && zarnplatform::IsAbsolutePath(*data)) options.localDataFolder = std::move(data);
  options.readProxies = [] {
    sion::ProxyConfig config(sion::ProxyConfig::ReadSources(zarnplatform::EnvironmentVariable));
    // Never the credentials: the log may be shared in a bug report.
    if (const auto& proxy = config.Proxy()) LOG(INFO) << "Https Proxy:" << proxy->host << ":" << proxy->port;
    return config;
  };
  return options;
}

SdkInstance::SdkInstance(SdkOptions options)
    : steamPort_(options.steam ? std::move(options.steam) : std::make_unique<SteamApiPort>()),
      store_(std::move(options.localDataFolder)),
      pool_(options.workerCount, options.threadLauncher, std::move(options.nameLookup), std::move(options.readProxies)),
      http_(pool_),
      api_(http_, options.apiOrigin, session_),
      delivery_(store_, api_, options.threadLauncher, options.eventDelivery),
      track_(session_, delivery_),
      pay_(api_, session_, track_, options.payResultRetryDelay),
      user_(api_, session_, track_),
      steam_(*steamPort_, pay_, user_, options.steamTimings, options.threadLauncher),
      core_({session_, store_, pool_, api_, track_, delivery_, pay_, steam_, [this] { StopParts(); }}) {}

void SdkInstance::StopForUnload(bool processTerminating) {
  pool_.StopForUnload(processTerminating);
  if (!processTerminating) delivery_.Stop();
}

SdkInstance::~SdkInstance() { StopParts(); }

void SdkInstance::StopParts() {
  steam_.Exit();
  pool_.Stop();
  delivery_.Stop();
}

}  // namespace ZarnSdk
