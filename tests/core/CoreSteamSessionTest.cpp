// The core's Steam session against the stand-in Steam client: the pump, the ticket wait and its
// outcomes, purchase authorisations, the gates of Login/CallPay/IsPayAvailable, and Exit.
// The server login and the payment notification are observed through the core's test hooks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "Sdk/CZarnCore.h"
#include "Sdk/ZarnLog.h"
#include "TestSupport.h"
#include "steam/steam_sim.h"

using namespace std::chrono_literals;
using ZarnSdk::CZarnCore;
using zarntest::CallbackSlot;

namespace {

// Captures every line the SDK logs, so tests can compare what was logged with what was handed on.
class LogCapture : public el::LogDispatchCallback {
 public:
  static std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex());
    return lines();
  }

 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(mutex());
    lines().push_back(data->logMessage()->message());
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& lines() {
    static std::vector<std::string> l;
    return l;
  }
};

struct LoginCall {
  std::string steamId;
  std::string ticketHex;
  ResultCallback callback = nullptr;
};

class CoreSteamSession : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(chdir(dir_.str().c_str()), 0);  // zarnlog.log lands in the temporary folder
    el::Helpers::installLogDispatchCallback<LogCapture>("capture");
    SteamSim_Reset();
    CZarnCore::Hooks hooks;
    hooks.login = [this](std::string steamId, std::string ticketHex, ResultCallback cb) {
      std::lock_guard<std::mutex> lock(mutex_);
      logins_.push_back({std::move(steamId), std::move(ticketHex), cb});
    };
    hooks.payResult = [this](std::string authorized, std::string orderId) {
      std::lock_guard<std::mutex> lock(mutex_);
      payResults_.emplace_back(std::move(authorized), std::move(orderId));
    };
    core().SetHooksForTests(hooks);
  }

  static CZarnCore& core() { return CZarnCore::Instance(); }

  // Starts Steam and marks the SDK initialised without a server round trip.
  void StartInitialised() {
    ASSERT_TRUE(core().InitSteam());
    core().isInit = true;
  }

  std::vector<LoginCall> Logins() {
    std::lock_guard<std::mutex> lock(mutex_);
    return logins_;
  }
  std::vector<std::pair<std::string, std::string>> PayResults() {
    std::lock_guard<std::mutex> lock(mutex_);
    return payResults_;
  }

  zarntest::TempDir dir_;
  std::mutex mutex_;
  std::vector<LoginCall> logins_;
  std::vector<std::pair<std::string, std::string>> payResults_;
};

TEST_F(CoreSteamSession, OkTicketHandsTheLoggedSteamIdAndTicketToTheServerLogin) {
  SteamSim_SetSteamId(76561198000000123ULL);
  SteamSim_SetTicketResponse(1, 350);
  StartInitialised();

  core().LoginSteam(CallbackSlot<1>::fn);
  ASSERT_TRUE(zarntest::WaitUntil([&] { return !Logins().empty(); }, 5s));
  const auto login = Logins().front();
  EXPECT_EQ(login.steamId, "76561198000000123");
  EXPECT_EQ(login.callback, &CallbackSlot<1>::fn);
  // A 230-byte ticket as 460 lower-case hexadecimal digits.
  EXPECT_EQ(login.ticketHex.size(), 460u);
  EXPECT_EQ(login.ticketHex.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(CallbackSlot<1>::log().Count(), 0u) << "the server login reports, not the ticket wait";

  bool loggedSame = false;
  for (const auto& line : LogCapture::Lines()) {
    // "loginSteam Session:<handle> Tictket：<hex>" with a GBK full-width colon
    if (line.rfind("loginSteam Session:", 0) == 0 && line.size() >= login.ticketHex.size() &&
        line.compare(line.size() - login.ticketHex.size(), login.ticketHex.size(), login.ticketHex) == 0 &&
        line.find(" Tictket\xA3\xBA") != std::string::npos) {
      loggedSame = true;
    }
  }
  EXPECT_TRUE(loggedSame);
}

TEST_F(CoreSteamSession, TicketRefusedOrUnansweredReportsOnTheWaitThread) {
  core().SetTicketWaitForTests(10ms, 30);
  StartInitialised();

  SteamSim_SetTicketResponse(5, 0);
  core().LoginSteam(CallbackSlot<2>::fn);
  ASSERT_TRUE(CallbackSlot<2>::log().WaitFor(1));
  auto refused = CallbackSlot<2>::log().Records().front();
  EXPECT_EQ(refused.code, -404);
  EXPECT_EQ(refused.msg, L"Steam Ticket Auth Failure!");
  EXPECT_EQ(refused.data, L"");
  EXPECT_NE(refused.thread, std::this_thread::get_id());

  SteamSim_SetTicketResponse(1, -1);  // never answered
  const auto start = std::chrono::steady_clock::now();
  core().LoginSteam(CallbackSlot<3>::fn);
  ASSERT_TRUE(CallbackSlot<3>::log().WaitFor(1));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  auto timedOut = CallbackSlot<3>::log().Records().front();
  EXPECT_EQ(timedOut.code, -403);
  EXPECT_EQ(timedOut.msg, L"Steam Ticket TimeOut!");
  EXPECT_EQ(timedOut.data, L"");
  EXPECT_GE(elapsed, 300ms) << "gives up only after all polls";
  EXPECT_TRUE(Logins().empty());
}

TEST_F(CoreSteamSession, DefaultWaitGivesUpAfterAboutTenSeconds) {
  SteamSim_SetTicketResponse(1, -1);
  StartInitialised();
  const auto start = std::chrono::steady_clock::now();
  core().LoginSteam(CallbackSlot<4>::fn);
  ASSERT_TRUE(CallbackSlot<4>::log().WaitFor(1, 20s));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(CallbackSlot<4>::log().Records().front().code, -403);
  EXPECT_GE(elapsed, 9900ms);
  EXPECT_LT(elapsed, 13s);
}

TEST_F(CoreSteamSession, ExitInterruptsAWaitAndClosesSteamForGood) {
  SteamSim_SetTicketResponse(1, -1);
  StartInitialised();
  core().LoginSteam(CallbackSlot<5>::fn);

  const auto start = std::chrono::steady_clock::now();
  core().Exit();
  ASSERT_TRUE(CallbackSlot<5>::log().WaitFor(1, 2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
  auto interrupted = CallbackSlot<5>::log().Records().front();
  EXPECT_EQ(interrupted.code, -400);
  EXPECT_EQ(interrupted.msg, L"Process Exit!");
  EXPECT_EQ(interrupted.data, L"");
  EXPECT_TRUE(Logins().empty());

  // After Exit nothing reaches the shut-down Steam library.
  core().LoginSteam(CallbackSlot<6>::fn);
  ASSERT_EQ(CallbackSlot<6>::log().Count(), 1u) << "refused at once, on the calling thread";
  EXPECT_EQ(CallbackSlot<6>::log().Records().front().code, -400);
  EXPECT_FALSE(core().IsPayAvailable());
  EXPECT_FALSE(core().InitSteam());
  EXPECT_TRUE(core().isInit) << "Exit does not clear the start-up state";
}

TEST_F(CoreSteamSession, PurchaseAuthorisationReachesPaymentWithFullOrderId) {
  StartInitialised();
  const uint64_t bigOrder = (1ULL << 32) + 5;
  SteamSim_PushMicroTxnAuthorization(480, bigOrder, false);
  SteamSim_PushMicroTxnAuthorization(480, 18446744073709551615ULL, true);
  ASSERT_TRUE(zarntest::WaitUntil([&] { return PayResults().size() == 2; }, 5s));
  const auto results = PayResults();
  EXPECT_EQ(results[0], std::make_pair(std::string("0"), std::string("4294967301")));
  EXPECT_EQ(results[1], std::make_pair(std::string("1"), std::string("18446744073709551615")));
}

TEST_F(CoreSteamSession, GatesRefuseOnTheCallingThreadWithEmptyData) {
  core().LoginSteam(CallbackSlot<7>::fn);
  core().CallPay("p1", "", CallbackSlot<7>::fn);
  EXPECT_FALSE(core().IsPayAvailable());
  ASSERT_EQ(CallbackSlot<7>::log().Count(), 2u);
  for (const auto& r : CallbackSlot<7>::log().Records()) {
    EXPECT_EQ(r.code, -401);
    EXPECT_EQ(r.msg, L"Sdk Not Init.");
    EXPECT_EQ(r.data, L"");
    EXPECT_EQ(r.thread, std::this_thread::get_id());
  }
  // Null callbacks are never called.
  core().LoginSteam(nullptr);
  core().CallPay("p1", "", nullptr);

  SteamSim_SetOverlayEnabled(false);
  StartInitialised();
  EXPECT_FALSE(core().IsPayAvailable());
  SteamSim_SetOverlayEnabled(true);
  EXPECT_TRUE(core().IsPayAvailable());

  core().CallPay("p1", "", CallbackSlot<8>::fn);
  core().CallPay("p1", "", nullptr);
  ASSERT_EQ(CallbackSlot<8>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<8>::log().Records().front().code, -405);
  EXPECT_EQ(CallbackSlot<8>::log().Records().front().msg, L"Not Login.");
}

TEST_F(CoreSteamSession, LogoutClearsThePlayerButKeepsTheSdkStarted) {
  StartInitialised();
  core().StoreLogin("tok", "42");
  core().SetServerId("s1");
  core().SetGameUserId("g1");
  core().SetNickName("n1");
  core().SetLevel(7);
  auto before = core().GetPlayerState();
  EXPECT_EQ(before.userId, "42");
  EXPECT_EQ(before.level, 7);
  EXPECT_TRUE(core().isLogin);

  core().Logout();
  const auto after = core().GetPlayerState();
  EXPECT_EQ(after.userId, "-1");
  EXPECT_EQ(after.token, "");
  EXPECT_EQ(after.serverId, "");
  EXPECT_EQ(after.gameUserId, "");
  EXPECT_EQ(after.nickName, "");
  EXPECT_EQ(after.level, 0);
  EXPECT_FALSE(core().isLogin);
  EXPECT_TRUE(core().isInit);

  core().CallPay("p1", "", CallbackSlot<9>::fn);
  ASSERT_EQ(CallbackSlot<9>::log().Count(), 1u);
  EXPECT_EQ(CallbackSlot<9>::log().Records().front().code, -405);
}

TEST_F(CoreSteamSession, InitWithoutSteamClientFailsOnTheCallingThread) {
  SteamSim_SetClientRunning(false);
  core().InitSdk("app", "key", CallbackSlot<10>::fn);
  ASSERT_EQ(CallbackSlot<10>::log().Count(), 1u);
  const auto r = CallbackSlot<10>::log().Records().front();
  EXPECT_EQ(r.code, -402);
  EXPECT_EQ(r.msg, L"Steam Init Failure!");
  EXPECT_EQ(r.data, L"");
  EXPECT_EQ(r.thread, std::this_thread::get_id());
  EXPECT_FALSE(core().isInit);
  EXPECT_EQ(core().GetGlobalParams().appId, "") << "nothing after the Steam start runs";
}

}  // namespace
