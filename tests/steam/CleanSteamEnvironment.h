// Puts a test process into a known state for the stand-in: none of its environment variables
// set, and a fresh empty working directory (so no stray steam_appid.txt is found).
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "Harness.h"

namespace steamtest {

class CleanSteamEnvironment {
 public:
  CleanSteamEnvironment() : oldCwd_(std::filesystem::current_path()) {
    for (const char* name : {"ZARN_STEAMSIM_RUNNING", "SteamAppId", "ZARN_STEAMSIM_STEAMID", "ZARN_STEAMSIM_OVERLAY",
                             "ZARN_STEAMSIM_TICKET_RESULT", "ZARN_STEAMSIM_TICKET_DELAY_MS", "ZARN_STEAMSIM_DIR",
                             "ZARN_STEAMSIM_PURCHASE"}) {
      unset_.push_back(std::make_unique<zarntest::ScopedEnv>(name, std::nullopt));
    }
    std::filesystem::current_path(cwd_.path());
  }
  ~CleanSteamEnvironment() {
    std::error_code ignored;
    std::filesystem::current_path(oldCwd_, ignored);
  }
  CleanSteamEnvironment(const CleanSteamEnvironment&) = delete;
  CleanSteamEnvironment& operator=(const CleanSteamEnvironment&) = delete;

  // The working directory of the test.
  const std::filesystem::path& Cwd() const { return cwd_.path(); }

 private:
  std::filesystem::path oldCwd_;
  zarntest::TempDir cwd_;
  std::vector<std::unique_ptr<zarntest::ScopedEnv>> unset_;
};

}  // namespace steamtest
