// A game process for the payment tests: a temporary profile and working folder, the mock backend
// on loopback with its own certificate authority, the stand-in Steam client, and the SDK's core
// started and logged in through its real operations (static library, in-process).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "tools/mock_backend/MockBackend.h"

namespace zarntest {

// Every line the SDK logs (once logging is on), with a wait for a line to appear.
class LogLines {
 public:
  static void Install();
  static std::vector<std::string> All();
  // Lines that start with `prefix`.
  static std::vector<std::string> StartingWith(const std::string& prefix);
  // Until at least `count` lines start with `prefix`; false on timeout.
  static bool WaitFor(const std::string& prefix, size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15));
  static void Add(std::string line);

 private:
  static std::mutex mutex_;
  static std::condition_variable cv_;
  static std::vector<std::string> lines_;
};

// "Save SteamOrderId:<id>,OrderId:<orderId>" as the SDK logs a stored order.
struct SavedOrder {
  std::string steamOrderId;
  std::string orderId;
};

class PayTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kSteamAppId = 480;

  void SetUp() override;
  void TearDown() override;

  zarnmock::MockBackend& mock() { return *mock_; }

  // Init through the core against the mock; asserts 200. Logging is on (test device).
  void StartSdk();
  // A Steam login through the stand-in client and the mock; asserts 200. Sets the game identity.
  void LogIn();
  // Asks for the catalogue the game's way and waits for the answer.
  CallbackRecord QueryCatalogue();
  // Start, log in and have the catalogue loaded.
  void StartReady();

  // The stored orders the SDK logged, in order.
  static std::vector<SavedOrder> SavedOrders();
  // Waits until `count` orders are stored and returns the last.
  static SavedOrder WaitForSavedOrder(size_t count);
  // Steam's report of the player's decision, as the pump will deliver it.
  static void ReportSteamDecision(const std::string& steamOrderId, bool authorized);

  // The reply body of an answered request as JSON.
  static nlohmann::json ReplyJson(const zarnmock::RecordedRequest& request);

  TempDir dir_;
  std::unique_ptr<zarnmock::MockBackend> mock_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::string oldCwd_;
};

// Scripted answers of the mock, by what they change.
zarnmock::ReplyScript ScriptBody(std::string body);
zarnmock::ReplyScript ScriptDelay(std::chrono::milliseconds delay);
zarnmock::ReplyScript ScriptFailures(int count, std::chrono::milliseconds delay = {});

// The product list of a catalogue answer's data, keyed by product id.
std::map<std::string, nlohmann::json> ProductsById(const std::wstring& data);

}  // namespace zarntest
