// One game process for in-process tests of the SDK: a temporary profile and working folder,
// the mock backend on loopback (TLS, signed by the process's test authority), the stand-in
// Steam client reset for the test, and a fresh SDK built by the composition root. Everything
// is torn down with the rig, SDK threads included, so tests do not leak into each other.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Harness.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/SdkInstance.h"
#include "steam/steam_sim.h"
#include "tools/mock_backend/MockBackend.h"

namespace zarntest {

// Every line the SDK logs in this process once logging is on (a start-up reply marking a test
// device turns it on). Cleared by each new rig and ScopedSdkLog.
class LogTap {
 public:
  static std::vector<std::string> Lines();
  // Lines that start with `prefix`.
  static std::vector<std::string> StartingWith(const std::string& prefix);
  static bool WaitFor(const std::string& prefix, size_t count = 1, std::chrono::milliseconds timeout = 15s);
  static void Clear();
};

// Turns the SDK's logging on for parts used without a start-up (a start-up reply is what
// normally turns it on), with zarnlog.log in a temporary working folder; switches it off and
// restores the working folder on destruction.
class ScopedSdkLog {
 public:
  ScopedSdkLog();
  ~ScopedSdkLog();
  ScopedSdkLog(const ScopedSdkLog&) = delete;
  ScopedSdkLog& operator=(const ScopedSdkLog&) = delete;

 private:
  TempDir dir_;
  std::string oldCwd_;
};

// Whether `r` is the SDK's own result `expected`: its code and message, and empty data.
testing::AssertionResult IsSdkResult(const CallbackRecord& r, const ZarnSdk::SdkResult& expected);
// Whether `log` holds exactly one call, made on this thread, with the SDK's own result
// `expected`: how the SDK refuses a call before the call returns.
testing::AssertionResult AnsweredAtOnce(CallbackLog& log, const ZarnSdk::SdkResult& expected);

struct RigOptions {
  bool testDevice = true;                  // the start-up reply turns logging on
  ZarnSdk::SteamTimings steam{};
  // Changes the SDK's options before it is built (a fake Steam port, a failing thread
  // launcher, a quicker retry).
  std::function<void(ZarnSdk::SdkOptions&)> adjust;
};

class SdkRig {
 public:
  static constexpr uint32_t kSteamAppId = 480;

  explicit SdkRig(RigOptions options = {});
  ~SdkRig();
  SdkRig(const SdkRig&) = delete;
  SdkRig& operator=(const SdkRig&) = delete;

  ZarnSdk::SdkInstance& sdk() { return *sdk_; }
  ZarnSdk::CZarnCore& core() { return sdk_->Core(); }
  zarnmock::MockBackend& mock() { return *mock_; }
  const TempDir& dir() const { return dir_; }
  // The SDK's data folder and its per-game state file.
  std::filesystem::path DataFolder() const;
  std::filesystem::path AppConfPath() const;

  // Init through the core against the mock; asserts 200.
  void Start();
  // A Steam login through the stand-in client and the mock; asserts 200. Sets the game identity.
  void LogIn();
  // Asks for the catalogue the game's way and waits for the answer.
  CallbackRecord QueryCatalogue();
  // Start, log in and have the catalogue loaded.
  void StartReady();
  // Ends the SDK now (Exit, every thread joined); the mock keeps its records.
  void DestroySdk();
  // The game started again: a new SDK on the same profile and server, not yet started.
  void Restart();

  // The analytics documents the mock received, in arrival order.
  std::vector<nlohmann::json> AnalyticsEvents() const;
  // Posts an event the game's way and waits for the mock to receive it; the document received.
  // No other analytics may be under way meanwhile.
  nlohmann::json PostEventAndWait(const std::string& name, const std::string& params = "",
                                  double value = std::numeric_limits<double>::quiet_NaN());
  // Waits until `count` orders were stored and returns the count-th one's Steam order id.
  static std::string WaitForSavedOrder(size_t count);
  // Steam's report of the player's decision, delivered by the pump's next pass.
  static void ReportSteamDecision(const std::string& steamOrderId, bool authorized);

 private:
  TempDir dir_;
  std::string oldCwd_;
  RigOptions options_;
  std::unique_ptr<zarnmock::MockBackend> mock_;
  std::unique_ptr<ZarnSdk::SdkInstance> sdk_;
};

}  // namespace zarntest
