// The game session of GameProcessTest.cpp through the library's C interface (zarnsdk.h), as a
// game in C, C# or another engine's plugin layer sees it: the functions resolved by their C
// names, texts as UTF-8 bytes with explicit lengths, and the caller's user pointer handed back.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "GameProcess.h"
#include "Harness.h"
#include "zarnsdk.h"

namespace zarntest {
namespace {

using nlohmann::json;
namespace paths = zarnmock::paths;
using boundary::kSteamAppId;
using boundary::Resolve;

struct CApi {
  decltype(&zarn_version) Version = nullptr;
  decltype(&zarn_init) Init = nullptr;
  decltype(&zarn_login) Login = nullptr;
  decltype(&zarn_logout) Logout = nullptr;
  decltype(&zarn_query_products) QueryProducts = nullptr;
  decltype(&zarn_call_pay) CallPay = nullptr;
  decltype(&zarn_is_pay_available) IsPayAvailable = nullptr;
  decltype(&zarn_post_event) PostEvent = nullptr;
  decltype(&zarn_set_server_id) SetServerId = nullptr;
  decltype(&zarn_set_game_user_id) SetGameUserId = nullptr;
  decltype(&zarn_set_nick_name) SetNickName = nullptr;
  decltype(&zarn_set_level) SetLevel = nullptr;
  decltype(&zarn_exit) Exit = nullptr;

  static CApi Load(void* library) {
    CApi c;
    Resolve(library, "zarn_version", c.Version), Resolve(library, "zarn_init", c.Init);
    Resolve(library, "zarn_login", c.Login), Resolve(library, "zarn_logout", c.Logout);
    Resolve(library, "zarn_query_products", c.QueryProducts), Resolve(library, "zarn_call_pay", c.CallPay);
    Resolve(library, "zarn_is_pay_available", c.IsPayAvailable), Resolve(library, "zarn_post_event", c.PostEvent);
    Resolve(library, "zarn_set_server_id", c.SetServerId), Resolve(library, "zarn_set_game_user_id", c.SetGameUserId);
    Resolve(library, "zarn_set_nick_name", c.SetNickName), Resolve(library, "zarn_set_level", c.SetLevel);
    Resolve(library, "zarn_exit", c.Exit);
    return c;
  }
};
using Game = boundary::Game<CApi>;

struct Answer {
  int32_t code = 0;
  std::string msg, data;
  std::thread::id thread;
};

// The answers to one call of the scenario; the callback finds it through its user pointer.
class Call {
 public:
  void Add(Answer answer) {
    std::lock_guard lock(mutex_);  // notified under the lock: the waiter may be gone right after
    answers_.push_back(std::move(answer));
    cv_.notify_all();
  }
  std::vector<Answer> Answers() {
    std::lock_guard lock(mutex_);
    return answers_;
  }
  Answer Single() {
    std::unique_lock lock(mutex_);
    EXPECT_TRUE(cv_.wait_for(lock, 30s, [&] { return !answers_.empty(); })) << "no callback";
    EXPECT_EQ(answers_.size(), 1u) << "a call answered more than once";
    return answers_.empty() ? Answer{} : answers_.front();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Answer> answers_;
};

constexpr int kCalls = 18;  // 1..16 take a callback; kNoCallback goes with every null callback
constexpr int kNoCallback = 17;
Call* const calls = new Call[kCalls];  // never destroyed: SDK threads may answer at exit
std::atomic<int> strays{0};            // answers whose user pointer is no call's

void* At(int n) { return &calls[n]; }

void Record(int32_t code, const char* msg, const char* data, void* user) {
  const auto at = reinterpret_cast<std::uintptr_t>(user) - reinterpret_cast<std::uintptr_t>(calls);
  if (user == nullptr || at >= kCalls * sizeof(Call) || at % sizeof(Call) != 0) return void(++strays);
  static_cast<Call*>(user)->Add({code, msg != nullptr ? msg : "(null)", data != nullptr ? data : "(null)",
                                 std::this_thread::get_id()});
}

// The one answer a call gave before it returned, on the calling thread.
Answer AtOnce(int n) {
  const auto answers = calls[n].Answers();
  EXPECT_EQ(answers.size(), 1u) << "call " << n << " was not answered once before it returned";
  if (answers.empty()) return {};
  EXPECT_EQ(answers[0].thread, std::this_thread::get_id()) << "call " << n;
  return answers[0];
}

// The one answer of a call that waits for the server or Steam: on one of the SDK's threads.
Answer Later(int n) {
  const Answer answer = calls[n].Single();
  EXPECT_NE(answer.thread, std::this_thread::get_id()) << "call " << n;
  return answer;
}

void ExpectSdkCode(const Answer& answer, int32_t code, const std::string& msg) {
  EXPECT_EQ(answer.code, code) << answer.msg;
  EXPECT_EQ(answer.msg, msg);
  EXPECT_EQ(answer.data, "");
}

void PlayThroughTheCInterface(Game& game) {
  const CApi& c = game.sdk;
  zarnmock::MockBackend& mock = *game.mock;
  EXPECT_STREQ(c.Version(), ZARN_EXPECTED_VERSION);

  c.Login(Record, At(1));
  ExpectSdkCode(AtOnce(1), ZARN_NOT_INIT, "Sdk Not Init.");
  c.CallPay("gem_pack_small", ZARN_NTS, "", 0, Record, At(2));
  ExpectSdkCode(AtOnce(2), ZARN_NOT_INIT, "Sdk Not Init.");
  c.Login(nullptr, At(kNoCallback));
  c.CallPay("gem_pack_small", ZARN_NTS, nullptr, 0, nullptr, At(kNoCallback));
  EXPECT_EQ(c.IsPayAvailable(), 0);

  SteamSim_SetClientRunning(false);
  c.Init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, Record, At(3));
  ExpectSdkCode(AtOnce(3), ZARN_STEAM_INIT_FAILURE, "Steam Init Failure!");
  EXPECT_TRUE(mock.Requests().empty()) << "sent without Steam";
  SteamSim_SetClientRunning(true);

  // Explicit lengths end the texts, whatever follows.
  c.Init("1001-not-this", 4, "zarn-demo-key\0not-this", 13, Record, At(4));
  const Answer started = Later(4);
  ASSERT_EQ(started.code, ZARN_OK) << started.msg;
  const auto config = mock.Requests(paths::kClientConfig).at(0);
  EXPECT_EQ(started.data, config.replyBody);
  EXPECT_EQ(config.Param("appId"), "1001");
  EXPECT_TRUE(config.ok) << "signed with another key than \"zarn-demo-key\": " << config.reason;
  c.Init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, Record, At(5));
  ExpectSdkCode(AtOnce(5), ZARN_OK, "Sdk already init.");
  c.Init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, nullptr, At(kNoCallback));
  EXPECT_EQ(c.IsPayAvailable(), 1);

  // A character beyond the BMP passes as it is; a byte that is no UTF-8 becomes U+FFFD.
  c.SetServerId("s-7", ZARN_NTS);
  c.SetGameUserId("role-42\0not-this", 7);
  c.SetNickName("Night Owl \xF0\x9F\xA6\x89\xFF", ZARN_NTS);
  c.SetLevel(12);
  c.PostEvent("boss_killed", ZARN_NTS, R"({"stage":3})", ZARN_NTS, 1.5);
  c.CallPay("gem_pack_small", ZARN_NTS, "", 0, Record, At(6));
  ExpectSdkCode(AtOnce(6), ZARN_NOT_LOGIN, "Not Login.");

  c.Login(Record, At(7));
  const Answer login = Later(7);
  ASSERT_EQ(login.code, ZARN_OK) << login.msg;
  EXPECT_EQ(login.data, mock.Requests(paths::kLogin).at(0).replyBody);

  c.QueryProducts(Record, At(8));
  const Answer catalogue = calls[8].Single();
  ASSERT_EQ(catalogue.code, ZARN_OK) << catalogue.msg;
  const size_t catalogueRequests = mock.RequestCount(paths::kProducts);
  c.QueryProducts(Record, At(9));
  EXPECT_EQ(AtOnce(9).data, catalogue.data);
  EXPECT_EQ(mock.RequestCount(paths::kProducts), catalogueRequests);
  c.CallPay("GEM_PACK_SMALL", ZARN_NTS, "", 0, Record, At(10));
  ExpectSdkCode(AtOnce(10), ZARN_PRODUCT_NOT_FOUND, "Not Found Product.");
  c.CallPay("gem_pack_small\0x", 16, "", 0, Record, At(11));  // U+0000 is part of the id
  ExpectSdkCode(AtOnce(11), ZARN_PRODUCT_NOT_FOUND, "Not Found Product.");

  // Approved in the simulated overlay, which the mock's order reaches through the inbox.
  c.CallPay("gem_pack_large", ZARN_NTS, "ext-\xE4\xB8\xAD\xC0", 8, Record, At(12));
  const Answer paid = Later(12);
  EXPECT_EQ(paid.code, ZARN_OK) << paid.msg;
  const auto created = mock.Requests(paths::kCreateOrder).at(0);
  EXPECT_EQ(paid.data, boundary::PaymentData(created, "gem_pack_large", "ext-\xE4\xB8\xAD\xEF\xBF\xBD", 1));
  EXPECT_EQ(created.Param("nickName"), "Night Owl \xF0\x9F\xA6\x89\xEF\xBF\xBD");
  EXPECT_EQ(created.Param("serverId"), "s-7");
  EXPECT_EQ(created.Param("gameUserId"), "role-42");

  // Declined by Steam, once with a callback and once without one.
  mock.SetSteamSimDir("");
  mock.SetPayStatus(0);
  c.CallPay("gem_pack_small", ZARN_NTS, "", 0, Record, At(13));
  c.CallPay("gem_pack_small", ZARN_NTS, "", 0, nullptr, At(kNoCallback));
  ASSERT_TRUE(mock.WaitForAnswers(paths::kCreateOrder, 3));
  for (size_t i = 1; i < 3; ++i) {
    const json order = json::parse(mock.Requests(paths::kCreateOrder)[i].replyBody);
    SteamSim_PushMicroTxnAuthorization(kSteamAppId, std::stoull(order["extInfo"]["steamOrderId"].get<std::string>()),
                                       false);
  }
  const Answer declined = Later(13);
  EXPECT_EQ(declined.code, ZARN_OK) << declined.msg;
  EXPECT_EQ(json::parse(declined.data, nullptr, false).value("status", -1), 0);
  ASSERT_TRUE(mock.WaitForAnswers(paths::kPayResult, 3));
  std::multiset<std::string> statuses;
  for (const auto& result : mock.Requests(paths::kPayResult)) statuses.insert(result.Param("status"));
  EXPECT_EQ(statuses, (std::multiset<std::string>{"0", "0", "1"}));

  c.Logout();
  c.CallPay("gem_pack_small", ZARN_NTS, "", 0, Record, At(14));
  ExpectSdkCode(AtOnce(14), ZARN_NOT_LOGIN, "Not Login.");

  // Start-up, login and the game's own event, with the identity set above.
  boundary::ExpectBossEventWithIdentity(mock);

  // Exit ends a login that waits for Steam's ticket answer; afterwards nothing is sent.
  SteamSim_SetTicketResponse(1, -1);
  c.Login(Record, At(15));
  c.Exit();
  ExpectSdkCode(calls[15].Single(), ZARN_PROCESS_EXIT, "Process Exit!");
  const size_t sent = mock.Requests().size();
  c.Login(Record, At(16));
  ExpectSdkCode(calls[16].Single(), ZARN_PROCESS_EXIT, "Process Exit!");
  c.PostEvent("after_exit", ZARN_NTS, "", 0, std::nan(""));
  EXPECT_FALSE(mock.WaitForRequests(paths::kAnalytics, 4, std::chrono::seconds(1))) << "an event sent after Exit";
  EXPECT_EQ(mock.Requests().size(), sent);
  for (int n = 1; n < kCalls; ++n) EXPECT_EQ(calls[n].Answers().size(), n == kNoCallback ? 0u : 1u) << "call " << n;
  EXPECT_EQ(strays.load(), 0) << "answers came with a user pointer that no call passed";
}

ZARN_CHILD_ROLE(CInterfaceSession) { return boundary::Play(PlayThroughTheCInterface); }

TEST(CInterface, PlaysASessionFromStartUpToExit) {
  TempDir home;
  EXPECT_EQ(RunChild("CInterfaceSession", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

}  // namespace
}  // namespace zarntest
