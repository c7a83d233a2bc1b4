// The stand-in Steam client as the SDK, the sample game and the tests rely on it: start-up, its
// environment, callbacks only inside SteamAPI_RunCallbacks, tickets, and the overlay's inbox.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <set>

#include "Harness.h"
#include "Os.h"
#include "steam/steam_api_subset.h"
#include "steam/steam_sim.h"

namespace {

using zarntest::ScopedEnv;
using zarntest::TempDir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr uint64_t kMaxOrderId = 18446744073709551615ULL;

thread_local bool insideRunCallbacks = false;
void RunCallbacks() {
  insideRunCallbacks = true;
  SteamAPI_RunCallbacks();
  insideRunCallbacks = false;
}
bool PumpUntil(const std::function<bool()>& condition) {
  return zarntest::WaitUntil([&] { return RunCallbacks(), condition(); });
}

struct TicketAnswer { HAuthTicket handle; int32_t result; Clock::time_point at; };
struct Purchase { uint32_t appId; uint64_t orderId; int authorized; bool operator==(const Purchase&) const = default; };

// What Steam delivered to the two registered objects of a recorder, which unregister with it.
// Several threads may pump at once; the lists are read while none does.
struct Recorder {
  template <class T>
  void Add(std::vector<T>& list, T item) {
    std::lock_guard<std::mutex> lock(mutex);
    outsideRunCallbacks += insideRunCallbacks ? 0 : 1;
    list.push_back(item);
  }
  void OnTicket(GetAuthSessionTicketResponse_t* p) { Add(tickets, {p->m_hAuthTicket, p->m_eResult, Clock::now()}); }
  void OnPurchase(MicroTxnAuthorizationResponse_t* p) {
    Add(purchases, {p->m_unAppID, p->m_ulOrderID, p->m_bAuthorized});
  }

  std::mutex mutex;
  std::vector<TicketAnswer> tickets;
  std::vector<Purchase> purchases;
  int outsideRunCallbacks = 0;
  CCallback<Recorder, GetAuthSessionTicketResponse_t> ticket{this, &Recorder::OnTicket};
  CCallback<Recorder, MicroTxnAuthorizationResponse_t> purchase{this, &Recorder::OnPurchase};
};

// A ticket's handle; `size` receives its length.
HAuthTicket RequestTicket(uint32_t& size) {
  uint8_t buffer[4096];  // the SDK's size
  return SteamAPI_ISteamUser_GetAuthSessionTicket(SteamUser(), buffer, sizeof buffer, &size, nullptr);
}

// As the mock backend writes a request: under a hidden name, then renamed into place.
void Drop(const fs::path& folder, const std::string& name, uint32_t appId, const std::string& orderId) {
  const std::string request = "{\"appId\":" + std::to_string(appId) + ",\"orderId\":\"" + orderId + "\"}";
  zarntest::WriteFile(folder / ("." + name), request);
  fs::rename(folder / ("." + name), folder / name);
}

// No ZARN_STEAMSIM_* variable and a fresh working folder (no steam_appid.txt); after each test
// Steam is shut down and the control values are forgotten.
class SteamStandIn : public testing::Test {
 protected:
  SteamStandIn() {
    for (const char* name : {"ZARN_STEAMSIM_RUNNING", "SteamAppId", "ZARN_STEAMSIM_STEAMID", "ZARN_STEAMSIM_OVERLAY",
                             "ZARN_STEAMSIM_TICKET_RESULT", "ZARN_STEAMSIM_TICKET_DELAY_MS", "ZARN_STEAMSIM_DIR",
                             "ZARN_STEAMSIM_PURCHASE"})
      unset_.emplace_back(name, std::nullopt);
    EXPECT_TRUE(zarntest::os::ChangeDirectory(cwd_.str()));
  }
  ~SteamStandIn() override {
    EXPECT_EQ(recorder_.outsideRunCallbacks, 0);
    Restart();
    zarntest::os::ChangeDirectory(oldCwd_);
  }
  static void Restart() {
    SteamAPI_Shutdown();
    SteamSim_Reset();
  }

  const std::string oldCwd_ = fs::current_path().string();
  TempDir cwd_;
  std::deque<ScopedEnv> unset_;
  Recorder recorder_;
};

TEST_F(SteamStandIn, EnvironmentAndControlValuesAreReadAtStartUp) {
  constexpr uint64_t kDefaultSteamId = 76561198000000001ULL;
  struct Case {
    const char *name, *value;     // a variable set for the start, or null
    std::optional<bool> running;  // SteamSim_SetClientRunning, which wins over the environment
    bool starts, overlay;
    uint32_t appId;
    uint64_t steamId;
  };
  const std::vector<Case> cases = {
      {nullptr, nullptr, {}, true, true, 570, kDefaultSteamId},  // the app id of steam_appid.txt
      {"SteamAppId", "730", {}, true, true, 730, kDefaultSteamId},
      {"SteamAppId", "730x", {}, true, true, 570, kDefaultSteamId},  // unusable: the next source
      {"ZARN_STEAMSIM_STEAMID", "76561198000000999", {}, true, true, 570, 76561198000000999ULL},
      {"ZARN_STEAMSIM_OVERLAY", "0", {}, true, false, 570, kDefaultSteamId},
      {"ZARN_STEAMSIM_RUNNING", "0", {}, false, false, 0, 0},
      {"ZARN_STEAMSIM_RUNNING", "0", true, true, true, 570, kDefaultSteamId},
      {nullptr, nullptr, false, false, false, 0, 0},
  };
  zarntest::WriteFile(cwd_.path() / "steam_appid.txt", "570\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases.data());
    std::optional<ScopedEnv> variable;
    if (c.name != nullptr) variable.emplace(c.name, c.value);
    if (c.running) SteamSim_SetClientRunning(*c.running);
    EXPECT_EQ(SteamAPI_Init(), c.starts);
    EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), c.appId);
    EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), c.steamId);
    EXPECT_EQ(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()), c.overlay);
    Restart();
  }
}

TEST_F(SteamStandIn, CallbacksComeOnlyInsideRunCallbacksToRegisteredObjects) {
  Recorder unregistered;
  SteamAPI_UnregisterCallback(&unregistered.purchase);
  SteamSim_PushMicroTxnAuthorization(480, kMaxOrderId, false);
  RunCallbacks();
  EXPECT_TRUE(recorder_.purchases.empty()) << "delivered before Steam started";

  ASSERT_TRUE(SteamAPI_Init());
  SteamSim_PushMicroTxnAuthorization(4294967295u, 4294967296ULL, true);
  RunCallbacks();
  EXPECT_EQ(recorder_.purchases, (std::vector<Purchase>{{480, kMaxOrderId, 0}, {4294967295u, 4294967296ULL, 1}}));
  EXPECT_TRUE(unregistered.purchases.empty());

  // A shutdown or a reset drops what is pending.
  SteamSim_PushMicroTxnAuthorization(480, 7, true);
  SteamAPI_Shutdown();
  ASSERT_TRUE(SteamAPI_Init());
  SteamSim_PushMicroTxnAuthorization(480, 8, true);
  SteamSim_Reset();
  RunCallbacks();
  EXPECT_EQ(recorder_.purchases.size(), 2u);
}

TEST_F(SteamStandIn, TicketsAreAnsweredWithTheirResultAfterTheirDelay) {
  ScopedEnv result("ZARN_STEAMSIM_TICKET_RESULT", "2");
  ScopedEnv delay("ZARN_STEAMSIM_TICKET_DELAY_MS", "0");
  ASSERT_TRUE(SteamAPI_Init());
  uint32_t size = 0;
  const HAuthTicket fromEnvironment = RequestTicket(size);
  EXPECT_EQ(size, 230u);
  SteamSim_SetTicketResponse(k_EResultOK, -1);
  const HAuthTicket never = RequestTicket(size);
  SteamSim_SetTicketResponse(5, 80);
  const Clock::time_point requested = Clock::now();
  const HAuthTicket delayed = RequestTicket(size);
  EXPECT_EQ((std::set<HAuthTicket>{0, fromEnvironment, never, delayed}).size(), 4u) << "handles are unique, never 0";

  ASSERT_TRUE(PumpUntil([&] { return recorder_.tickets.size() >= 2; }));
  RunCallbacks();  // the one never answered would be due by now
  ASSERT_EQ(recorder_.tickets.size(), 2u);
  EXPECT_EQ(std::pair(recorder_.tickets[0].handle, recorder_.tickets[0].result), std::pair(fromEnvironment, 2));
  EXPECT_EQ(std::pair(recorder_.tickets[1].handle, recorder_.tickets[1].result), std::pair(delayed, 5));
  EXPECT_GE(recorder_.tickets[1].at - requested, std::chrono::milliseconds(80));
}

TEST_F(SteamStandIn, OverlayInboxAnswersTheRequestsOfItsGame) {
  for (const std::string answer : {"approve", "decline", "ignore"}) {
    SCOPED_TRACE(answer);
    TempDir inbox;
    ScopedEnv dir("ZARN_STEAMSIM_DIR", inbox.str());
    ScopedEnv purchase("ZARN_STEAMSIM_PURCHASE", answer);
    Recorder recorder;
    Drop(inbox.path(), "mine.json", 480, std::to_string(kMaxOrderId));
    Drop(inbox.path(), "other-game.json", 730, "5");
    Drop(inbox.path(), "malformed.json", 480, "-6");
    zarntest::WriteFile(inbox.path() / ".being-written.json", "{");
    ASSERT_TRUE(SteamAPI_Init());
    RunCallbacks();
    const std::vector<Purchase> expected = {{480, kMaxOrderId, answer == "approve" ? 1 : 0}};
    EXPECT_EQ(recorder.purchases, answer == "ignore" ? std::vector<Purchase>{} : expected);
    std::set<fs::path> left;
    for (const auto& entry : fs::directory_iterator(inbox.path())) left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<fs::path>{".being-written.json", "other-game.json"}));
    Restart();
  }
}

// Four pumps race over the folder while requests still arrive: each is taken exactly once.
TEST_F(SteamStandIn, NoOverlayRequestIsLostOrDoubledWhileManyArrive) {
  TempDir inbox;
  ScopedEnv dir("ZARN_STEAMSIM_DIR", inbox.str());
  ASSERT_TRUE(SteamAPI_Init());
  std::atomic<bool> allWritten{false};
  const auto pump = [&] { PumpUntil([&] { return allWritten && fs::is_empty(inbox.path()); }); };
  std::thread pumps[] = {std::thread(pump), std::thread(pump), std::thread(pump), std::thread(pump)};
  for (int i = 1; i <= 200; ++i) Drop(inbox.path(), std::to_string(i) + ".json", 480, std::to_string(i));
  allWritten = true;
  for (auto& pump : pumps) pump.join();
  RunCallbacks();

  std::map<uint64_t, int> deliveries;
  for (const auto& p : recorder_.purchases) ++deliveries[p.orderId];
  EXPECT_EQ(deliveries.size(), 200u);
  for (const auto& [order, count] : deliveries) EXPECT_EQ(count, 1) << "order " << order;
}

}  // namespace
