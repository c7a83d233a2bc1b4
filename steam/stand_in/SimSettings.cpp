#include "SimSettings.h"

namespace {

template <class T>
T FirstOf(const std::optional<T>& preferred, const std::optional<T>& fallback, T defaultValue) {
  if (preferred) return *preferred;
  if (fallback) return *fallback;
  return defaultValue;
}

}  // namespace

SimSettings SimSettings::Resolve(const ControlOverrides& overrides, const EnvironmentSettings& environment) {
  SimSettings s;
  s.clientRunning = FirstOf(overrides.clientRunning, environment.clientRunning, s.clientRunning);
  s.appId = FirstOf(overrides.appId, environment.appId, s.appId);
  s.steamId = FirstOf(overrides.steamId, environment.steamId, s.steamId);
  s.overlayEnabled = FirstOf(overrides.overlayEnabled, environment.overlayEnabled, s.overlayEnabled);
  s.ticketResult = FirstOf(overrides.ticketResult, environment.ticketResult, s.ticketResult);
  s.ticketDelayMs = FirstOf(overrides.ticketDelayMs, environment.ticketDelayMs, s.ticketDelayMs);
  s.purchase = environment.purchase.value_or(s.purchase);
  s.transactionDir = environment.transactionDir;
  return s;
}
