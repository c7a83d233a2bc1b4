// The simulated overlay: purchase requests dropped as files into ZARN_STEAMSIM_DIR.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CleanSteamEnvironment.h"
#include "SteamCallbackRecorder.h"
#include "Harness.h"
#include "steam/steam_api_subset.h"
#include "steam/steam_sim.h"

namespace fs = std::filesystem;

namespace {

using steamtest::CallbackRecorder;
using steamtest::CleanSteamEnvironment;
using steamtest::RunCallbacksHere;
using zarntest::ScopedEnv;
using zarntest::TempDir;

// Writes a request the way a well-behaved writer does: under a dot-name, then renamed into place.
void DropRequest(const fs::path& folder, const std::string& name, const std::string& content) {
  const fs::path hidden = folder / ("." + name + ".part");
  zarntest::WriteFile(hidden, content);
  fs::rename(hidden, folder / name);
}

std::string Request(uint32_t appId, const std::string& orderId) {
  return "{\"appId\":" + std::to_string(appId) + ",\"orderId\":\"" + orderId + "\"}";
}

TEST(SteamOverlayInbox, TakesOwnRequestsLeavesOthersAndDropsMalformed) {
  CleanSteamEnvironment clean;
  TempDir inbox;
  ScopedEnv dir("ZARN_STEAMSIM_DIR", inbox.str());
  CallbackRecorder recorder;

  DropRequest(inbox.path(), "order-1.json", Request(480, "18446744073709551615"));
  DropRequest(inbox.path(), "other-game.json", Request(730, "5"));
  zarntest::WriteFile(inbox.path() / ".being-written.json", Request(480, "6"));
  zarntest::WriteFile(inbox.path() / "notes.txt", Request(480, "7"));
  DropRequest(inbox.path(), "broken.json", "{\"appId\":480,");
  DropRequest(inbox.path(), "numeric-order.json", "{\"appId\":480,\"orderId\":8}");
  DropRequest(inbox.path(), "negative-app.json", "{\"appId\":-480,\"orderId\":\"9\"}");
  DropRequest(inbox.path(), "signed-order.json", Request(480, "+10"));
  DropRequest(inbox.path(), "huge-order.json", Request(480, "18446744073709551616"));

  // Not started yet: nothing is taken.
  RunCallbacksHere();
  EXPECT_TRUE(fs::exists(inbox.path() / "order-1.json"));

  ASSERT_TRUE(SteamAPI_Init());
  RunCallbacksHere();
  const auto purchases = recorder.Purchases();
  ASSERT_EQ(purchases.size(), 1u);
  EXPECT_EQ(purchases[0].appId, 480u);
  EXPECT_EQ(purchases[0].orderId, 18446744073709551615ULL);
  EXPECT_EQ(purchases[0].authorized, 1);
  EXPECT_TRUE(purchases[0].insideRunCallbacks);

  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(inbox.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".being-written.json", "notes.txt", "other-game.json"}));

  // Taken once only; a request of another game is taken by that game.
  RunCallbacksHere();
  EXPECT_EQ(recorder.Purchases().size(), 1u);
  SteamSim_SetAppId(730);
  RunCallbacksHere();
  ASSERT_EQ(recorder.Purchases().size(), 2u);
  EXPECT_EQ(recorder.Purchases()[1].appId, 730u);
  EXPECT_FALSE(fs::exists(inbox.path() / "other-game.json"));
}

TEST(SteamOverlayInbox, DeclineAndIgnoreAnswers) {
  CleanSteamEnvironment clean;
  TempDir inbox;
  ScopedEnv dir("ZARN_STEAMSIM_DIR", inbox.str());
  CallbackRecorder recorder;

  {
    ScopedEnv purchase("ZARN_STEAMSIM_PURCHASE", "decline");
    ASSERT_TRUE(SteamAPI_Init());
    DropRequest(inbox.path(), "a.json", Request(480, "11"));
    RunCallbacksHere();
    ASSERT_EQ(recorder.Purchases().size(), 1u);
    EXPECT_EQ(recorder.Purchases()[0].orderId, 11u);
    EXPECT_EQ(recorder.Purchases()[0].authorized, 0);
    EXPECT_FALSE(fs::exists(inbox.path() / "a.json"));
    SteamAPI_Shutdown();
  }
  {
    ScopedEnv purchase("ZARN_STEAMSIM_PURCHASE", "ignore");
    ASSERT_TRUE(SteamAPI_Init());
    DropRequest(inbox.path(), "b.json", Request(480, "12"));
    RunCallbacksHere();
    EXPECT_FALSE(fs::exists(inbox.path() / "b.json"));
    RunCallbacksHere();
    EXPECT_EQ(recorder.Purchases().size(), 1u);
  }
}

TEST(SteamOverlayInbox, ConcurrentWatchersTakeEachRequestOnce) {
  CleanSteamEnvironment clean;
  TempDir inbox;
  ScopedEnv dir("ZARN_STEAMSIM_DIR", inbox.str());
  CallbackRecorder recorder;
  ASSERT_TRUE(SteamAPI_Init());

  constexpr int kRequests = 200;
  // Four pumps race over the folder while the requests are still being written.
  std::atomic<bool> allWritten{false};
  std::vector<std::thread> pumps;
  for (int i = 0; i < 4; ++i) {
    pumps.emplace_back([&] {
      zarntest::WaitUntil([&] {
        RunCallbacksHere();
        return allWritten.load() && fs::is_empty(inbox.path());
      });
    });
  }
  for (int i = 1; i <= kRequests; ++i) DropRequest(inbox.path(), std::to_string(i) + ".json", Request(480, std::to_string(i)));
  allWritten = true;
  for (auto& t : pumps) t.join();
  RunCallbacksHere();

  std::map<uint64_t, int> deliveries;
  for (const auto& p : recorder.Purchases()) ++deliveries[p.orderId];
  EXPECT_EQ(deliveries.size(), static_cast<size_t>(kRequests));
  for (const auto& [order, count] : deliveries) EXPECT_EQ(count, 1) << "order " << order;
  EXPECT_TRUE(fs::is_empty(inbox.path()));
}

}  // namespace
