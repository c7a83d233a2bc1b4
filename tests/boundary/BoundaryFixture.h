// A game's process, as the boundary tests need it: a temporary profile and working folder, the
// mock backend on loopback with its own certificate authority, the environment the library
// reads at load, and then the real shared library loaded through the public header.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SdkLibrary.h"
#include "Harness.h"
#include "steam/steam_sim.h"
#include "tools/mock_backend/MockBackend.h"

namespace zarntest {

class BoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const SdkLibrary& sdk() { return *sdk_; }
  zarnmock::MockBackend& mock() { return *mock_; }
  std::filesystem::path AppConfPath(uint32_t appId = 480) const;
  std::filesystem::path DataHome() const { return dir_.path() / "data"; }
  std::string LogText() const;  // zarnlog.log of this process

  // Init against the mock and wait for its callback; asserts 200.
  void StartSdk();
  // Login and wait for its callback; asserts 200.
  void LoginSdk();

  // Steam's report can only be matched once the SDK stored the order; its log line (logging on
  // through a test-device start-up reply) says when.
  void WaitForStoredOrder(const std::string& steamOrderId);

  // The analytics documents the mock received, in arrival order.
  std::vector<nlohmann::json> AnalyticsEvents() const;

  // Runs this test program again as a child process, with only `filter` selected and the same
  // mock, profile and working folder: a restart of the game. Returns the exit status.
  int RunChildProcess(const std::string& filter, const std::map<std::string, std::string>& extraEnv = {});

  TempDir dir_;
  std::unique_ptr<zarnmock::MockBackend> mock_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  const SdkLibrary* sdk_ = nullptr;
  std::filesystem::path oldCwd_;
};

// True inside a child started by RunChildProcess; child-only tests skip otherwise.
bool IsChildProcess();

}  // namespace zarntest
