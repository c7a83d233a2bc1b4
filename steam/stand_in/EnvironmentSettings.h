// The stand-in's settings as a program that only loads the library gives them: environment
// variables and the steam_appid.txt file, read at SteamAPI_Init.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

// How the simulated overlay answers a purchase found in the transaction folder.
enum class PurchaseAnswer { Approve, Decline, Ignore };

// Each member is empty when its source is absent or unreadable (a malformed value is reported
// on standard error and treated as absent).
struct EnvironmentSettings {
  std::optional<bool> clientRunning;            // ZARN_STEAMSIM_RUNNING, "0" or "1"
  std::optional<uint32_t> appId;                // SteamAppId, else ./steam_appid.txt
  std::optional<uint64_t> steamId;              // ZARN_STEAMSIM_STEAMID
  std::optional<bool> overlayEnabled;           // ZARN_STEAMSIM_OVERLAY, "0" or "1"
  std::optional<int32_t> ticketResult;          // ZARN_STEAMSIM_TICKET_RESULT
  std::optional<int32_t> ticketDelayMs;         // ZARN_STEAMSIM_TICKET_DELAY_MS, negative = never
  std::optional<PurchaseAnswer> purchase;       // ZARN_STEAMSIM_PURCHASE: approve, decline, ignore
  std::optional<std::filesystem::path> transactionDir;  // ZARN_STEAMSIM_DIR

  // Reads the environment and, for the app id, the working directory. Touches no shared state
  // of the library; getenv itself is unsafe against a concurrent setenv by the program.
  static EnvironmentSettings Read();
};
