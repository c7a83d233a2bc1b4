// One game process as the tracker sees it: a temporary profile (HOME, XDG_DATA_HOME) and working
// folder, the recorded Steam application id, the core's global parameters filled, the HTTP
// workers running, and the mock backend on loopback recording every analytics document. Every
// log line of the SDK is captured as well.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "tools/mock_backend/MockBackend.h"

namespace tracktest {

inline constexpr uint32_t kSteamAppId = 480;
inline constexpr const char* kAppId = "1001";
inline const double kNoValue = std::numeric_limits<double>::quiet_NaN();

class TrackTest : public ::testing::Test {
 public:
  // Log lines (messages only) captured since the last ClearLines.
  static std::vector<std::string> Lines();
  static void ClearLines();
  // The captured lines that start with one of the given prefixes, in order.
  static std::vector<std::string> LinesStartingWith(const std::vector<std::string>& prefixes);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Fills the core's global parameters and runs the tracker's Init.
  void InitTracker();

  std::filesystem::path AppConfPath() const;
  std::string ClientId() const;

  // Posts one event and waits until the mock received it; returns the raw body. Events are
  // posted one at a time so that arrival order is posting order.
  std::string PostAndCapture(const std::string& name, const std::string& params, double value);
  static nlohmann::json Parse(const std::string& body);

  size_t AnalyticsCount() const;
  std::vector<zarnmock::RecordedRequest> AnalyticsRequests() const;

  zarntest::TempDir dir_;
  std::unique_ptr<zarntest::ScopedEnv> home_;
  std::unique_ptr<zarntest::ScopedEnv> dataHome_;
  std::unique_ptr<zarntest::ScopedEnv> origin_;
  std::unique_ptr<zarnmock::MockBackend> mock_;
};

}  // namespace tracktest
