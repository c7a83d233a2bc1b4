// The values the stand-in works with, resolved from three layers: what the control API set,
// what the environment gave at the last SteamAPI_Init, and the built-in defaults.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "EnvironmentSettings.h"
#include "steam/steam_api_subset.h"

// What a test or tool set through steam_sim.h; an empty member was never set (or was forgotten
// by SteamSim_Reset) and leaves the choice to the environment.
struct ControlOverrides {
  std::optional<bool> clientRunning;
  std::optional<uint32_t> appId;
  std::optional<uint64_t> steamId;
  std::optional<bool> overlayEnabled;
  std::optional<int32_t> ticketResult;
  std::optional<int32_t> ticketDelayMs;
};

struct SimSettings {
  static constexpr uint32_t kDefaultAppId = 480;
  static constexpr uint64_t kDefaultSteamId = 76561198000000001ULL;
  static constexpr int32_t kDefaultTicketResult = k_EResultOK;
  static constexpr int32_t kDefaultTicketDelayMs = 300;

  bool clientRunning = true;
  uint32_t appId = kDefaultAppId;
  uint64_t steamId = kDefaultSteamId;
  bool overlayEnabled = true;
  int32_t ticketResult = kDefaultTicketResult;
  int32_t ticketDelayMs = kDefaultTicketDelayMs;  // negative: the ticket is never answered
  PurchaseAnswer purchase = PurchaseAnswer::Approve;
  std::optional<std::filesystem::path> transactionDir;  // empty: no simulated overlay

  // Control API over environment over defaults, member by member.
  static SimSettings Resolve(const ControlOverrides& overrides, const EnvironmentSettings& environment);
};
