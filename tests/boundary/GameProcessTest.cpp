// The real shared library as a game uses it: loaded at run time, its twelve exports resolved by
// their exported names and typed by ZarnProxy.h, against the mock backend on loopback and the
// stand-in Steam client. The library keeps one SDK per process that nothing resets, so each
// scenario is a game process of its own (a child role); the tests start them and read their
// verdict.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "GameProcess.h"
#include "Harness.h"
#include "ZarnProxy.h"

namespace zarntest {
namespace {

using nlohmann::json;
namespace paths = zarnmock::paths;
template <int N>
using Slot = CallbackSlot<N>;
using boundary::kSteamAppId;
using boundary::PaymentData;
using boundary::Resolve;

struct Exports {
  decltype(&ZarnProxy::CallPay) CallPay = nullptr;
  decltype(&ZarnProxy::Exit) Exit = nullptr;
  decltype(&ZarnProxy::Init) Init = nullptr;
  decltype(&ZarnProxy::IsPayAvailable) IsPayAvailable = nullptr;
  decltype(&ZarnProxy::Login) Login = nullptr;
  decltype(&ZarnProxy::Logout) Logout = nullptr;
  decltype(&ZarnProxy::PostEvent) PostEvent = nullptr;
  decltype(&ZarnProxy::QueryProducts) QueryProducts = nullptr;
  decltype(&ZarnProxy::SetGameUserId) SetGameUserId = nullptr;
  decltype(&ZarnProxy::SetLevel) SetLevel = nullptr;
  decltype(&ZarnProxy::SetNickName) SetNickName = nullptr;
  decltype(&ZarnProxy::SetServerId) SetServerId = nullptr;

  static Exports Load(void* library);
};

// The exported names are those GCC gives the declarations (Itanium C++ ABI); W is std::wstring.
#define W "NSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"
Exports Exports::Load(void* library) {
  Exports e;
  Resolve(library, "_ZN9ZarnProxy7CallPayE" W "S5_PFviS5_S5_E", e.CallPay);
  Resolve(library, "_ZN9ZarnProxy4ExitEv", e.Exit);
  Resolve(library, "_ZN9ZarnProxy4InitE" W "S5_PFviS5_S5_E", e.Init);
  Resolve(library, "_ZN9ZarnProxy14IsPayAvailableEv", e.IsPayAvailable);
  Resolve(library, "_ZN9ZarnProxy5LoginEPFvi" W "S5_E", e.Login);
  Resolve(library, "_ZN9ZarnProxy6LogoutEv", e.Logout);
  Resolve(library, "_ZN9ZarnProxy9PostEventERK" W "S7_d", e.PostEvent);
  Resolve(library, "_ZN9ZarnProxy13QueryProductsEPFvi" W "S5_E", e.QueryProducts);
  Resolve(library, "_ZN9ZarnProxy13SetGameUserIdE" W, e.SetGameUserId);
  Resolve(library, "_ZN9ZarnProxy8SetLevelEi", e.SetLevel);
  Resolve(library, "_ZN9ZarnProxy11SetNickNameE" W, e.SetNickName);
  Resolve(library, "_ZN9ZarnProxy11SetServerIdE" W, e.SetServerId);
  return e;
}
#undef W

using Game = boundary::Game<Exports>;

// The one answer an export gave before it returned, on the calling thread.
template <int N>
CallbackRecord AtOnce() {
  const auto records = Slot<N>::log().Records();
  EXPECT_EQ(records.size(), 1u) << "call " << N << " was not answered once before it returned";
  if (records.empty()) return {};
  EXPECT_EQ(records[0].thread, std::this_thread::get_id()) << "call " << N;
  return records[0];
}

// The one answer of a call that waits for the server or Steam: on one of the SDK's threads.
template <int N>
CallbackRecord Later() {
  const CallbackRecord record = Slot<N>::log().Single(std::chrono::seconds(30));
  EXPECT_NE(record.thread, std::this_thread::get_id()) << "call " << N;
  return record;
}

void ExpectSdkCode(const CallbackRecord& record, int code, const std::wstring& msg) {
  EXPECT_EQ(record.code, code) << Narrow(record.msg);
  EXPECT_EQ(record.msg, msg);
  EXPECT_EQ(record.data, L"");
}

template <int... N>
void ExpectEachAnsweredOnce(std::integer_sequence<int, N...>) {
  const size_t counts[] = {Slot<N + 1>::log().Count()...};
  for (size_t i = 0; i < sizeof...(N); ++i) EXPECT_EQ(counts[i], 1u) << "call " << i + 1;
}

void PlayGameSession(Game& game) {
  const Exports& sdk = game.sdk;
  zarnmock::MockBackend& mock = *game.mock;

  // Before start-up; a null callback is skipped, never called.
  sdk.Login(Slot<1>::fn);
  ExpectSdkCode(AtOnce<1>(), -401, L"Sdk Not Init.");
  sdk.CallPay(L"gem_pack_small", L"", Slot<2>::fn);
  ExpectSdkCode(AtOnce<2>(), -401, L"Sdk Not Init.");
  sdk.Login(nullptr);
  sdk.CallPay(L"gem_pack_small", L"", nullptr);
  EXPECT_FALSE(sdk.IsPayAvailable());

  SteamSim_SetClientRunning(false);
  sdk.Init(L"1001", L"zarn-demo-key", Slot<3>::fn);
  ExpectSdkCode(AtOnce<3>(), -402, L"Steam Init Failure!");
  EXPECT_TRUE(mock.Requests().empty()) << "sent without Steam";
  SteamSim_SetClientRunning(true);

  sdk.Init(L"1001", L"zarn-demo-key", Slot<4>::fn);
  const CallbackRecord started = Later<4>();
  ASSERT_EQ(started.code, 200) << Narrow(started.msg);
  EXPECT_EQ(Narrow(started.data), mock.Requests(paths::kClientConfig).at(0).replyBody);
  sdk.Init(L"1001", L"zarn-demo-key", Slot<5>::fn);
  ExpectSdkCode(AtOnce<5>(), 200, L"Sdk already init.");
  sdk.Init(L"1001", L"zarn-demo-key", nullptr);
  EXPECT_TRUE(sdk.IsPayAvailable());

  // The player's identity, with a character beyond the BMP, reaches events and orders as UTF-8.
  sdk.SetServerId(L"s-7");
  sdk.SetGameUserId(L"role-42");
  sdk.SetNickName(L"Night Owl \U0001F989");
  sdk.SetLevel(12);
  sdk.PostEvent(L"boss_killed", LR"({"stage":3})", 1.5);
  sdk.CallPay(L"gem_pack_small", L"", Slot<6>::fn);
  ExpectSdkCode(AtOnce<6>(), -405, L"Not Login.");

  sdk.Login(Slot<7>::fn);
  const CallbackRecord login = Later<7>();
  ASSERT_EQ(login.code, 200) << Narrow(login.msg);
  EXPECT_EQ(Narrow(login.data), mock.Requests(paths::kLogin).at(0).replyBody);

  sdk.QueryProducts(Slot<8>::fn);
  const CallbackRecord catalogue = Slot<8>::log().Single();
  ASSERT_EQ(catalogue.code, 200) << Narrow(catalogue.msg);
  const size_t catalogueRequests = mock.RequestCount(paths::kProducts);
  sdk.QueryProducts(Slot<9>::fn);
  EXPECT_EQ(AtOnce<9>().data, catalogue.data);
  EXPECT_EQ(mock.RequestCount(paths::kProducts), catalogueRequests);
  sdk.CallPay(L"GEM_PACK_SMALL", L"", Slot<10>::fn);
  ExpectSdkCode(AtOnce<10>(), -400, L"Not Found Product.");

  // Approved in the simulated overlay, which the mock's order reaches through the inbox.
  sdk.CallPay(L"gem_pack_large", L"ext-\u4e2d", Slot<11>::fn);
  const CallbackRecord paid = Later<11>();
  EXPECT_EQ(paid.code, 200) << Narrow(paid.msg);
  const auto created = mock.Requests(paths::kCreateOrder).at(0);
  EXPECT_EQ(Narrow(paid.data), PaymentData(created, "gem_pack_large", "ext-\xE4\xB8\xAD", 1));
  EXPECT_EQ(created.Param("nickName"), "Night Owl \xF0\x9F\xA6\x89");
  EXPECT_EQ(created.Param("serverId"), "s-7");
  EXPECT_EQ(created.Param("gameUserId"), "role-42");

  // Declined by Steam, once with a callback and once without one.
  mock.SetSteamSimDir("");
  mock.SetPayStatus(0);
  sdk.CallPay(L"gem_pack_small", L"", Slot<12>::fn);
  sdk.CallPay(L"gem_pack_small", L"", nullptr);
  ASSERT_TRUE(mock.WaitForAnswers(paths::kCreateOrder, 3));
  for (size_t i = 1; i < 3; ++i) {
    const json order = json::parse(mock.Requests(paths::kCreateOrder)[i].replyBody);
    SteamSim_PushMicroTxnAuthorization(kSteamAppId, std::stoull(order["extInfo"]["steamOrderId"].get<std::string>()),
                                       false);
  }
  const CallbackRecord declined = Later<12>();
  EXPECT_EQ(declined.code, 200) << Narrow(declined.msg);
  EXPECT_EQ(json::parse(Narrow(declined.data), nullptr, false).value("status", -1), 0);
  ASSERT_TRUE(mock.WaitForAnswers(paths::kPayResult, 3));
  std::multiset<std::string> statuses;
  for (const auto& result : mock.Requests(paths::kPayResult)) statuses.insert(result.Param("status"));
  EXPECT_EQ(statuses, (std::multiset<std::string>{"0", "0", "1"}));

  sdk.Logout();
  sdk.CallPay(L"gem_pack_small", L"", Slot<13>::fn);
  ExpectSdkCode(AtOnce<13>(), -405, L"Not Login.");

  // Start-up, login and the game's own event, with the identity set above.
  boundary::ExpectBossEventWithIdentity(mock);

  // Exit ends a login that waits for Steam's ticket answer; afterwards nothing is sent.
  SteamSim_SetTicketResponse(1, -1);
  sdk.Login(Slot<14>::fn);
  sdk.Exit();
  ExpectSdkCode(Slot<14>::log().Single(), -400, L"Process Exit!");
  const size_t sent = mock.Requests().size();
  sdk.Login(Slot<15>::fn);
  ExpectSdkCode(Slot<15>::log().Single(), -400, L"Process Exit!");
  sdk.PostEvent(L"after_exit", L"", 0.0);
  EXPECT_FALSE(mock.WaitForRequests(paths::kAnalytics, 4, std::chrono::seconds(1))) << "an event sent after Exit";
  EXPECT_EQ(mock.Requests().size(), sent);
  ExpectEachAnsweredOnce(std::make_integer_sequence<int, 15>());
}

// One start of the game: the first on a machine sends the attribution and numbers its start-up
// event 1; the next finds the flag and the counter where the first left them.
void StartOnce(Game& game) {
  const bool first = os::GetEnv("ZARN_TEST_START") == "first";
  zarnmock::MockBackend& mock = *game.mock;
  game.sdk.Init(L"1001", L"zarn-demo-key", Slot<1>::fn);
  ASSERT_EQ(Slot<1>::log().Single().code, 200);
  ASSERT_TRUE(mock.WaitForAnswers(paths::kAnalytics, 1));
  const json startup = json::parse(mock.Requests(paths::kAnalytics)[0].body);
  EXPECT_EQ(startup["event"], "qzk_startup");
  EXPECT_EQ(startup["eventOrder"], first ? "n1" : "n2");
  if (first) {
    ASSERT_TRUE(mock.WaitForAnswers(paths::kAttribution, 1));
    // The game's exit may cut the reply's handling short: wait until the flag is stored.
    EXPECT_TRUE(WaitUntil([&] {
      const json conf = json::parse(ReadFile(game.AppConf()), nullptr, false);
      return conf.is_object() && conf.value("AttributionFlag", 0) == 1;
    }));
  } else {
    EXPECT_FALSE(mock.WaitForRequests(paths::kAttribution, 1, std::chrono::seconds(1))) << "attributed again";
  }
}

// A game that posts events, each different, against the parent's server until it is killed.
ZARN_CHILD_ROLE(PostsUntilKilled) {
  if (!os::ChangeDirectory(os::GetEnv("ZARN_SDK_DATA_HOME").value_or(""))) return 1;
  SteamSim_SetAppId(kSteamAppId);
  void* library = os::OpenLibrary(ZARN_SDK_LIBRARY_FILE);
  if (library == nullptr) return 1;
  const Exports sdk = Exports::Load(library);
  sdk.Init(L"1001", L"zarn-demo-key", nullptr);
  for (int i = 0;; ++i) {
    sdk.PostEvent(L"burst", L"{\"i\":" + std::to_wstring(i) + L"}", i);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a game's pace, not a wait for anything
  }
}

// A game that unloads the library after Init, during a login's ticket wait, or right after
// Exit, and then goes on running while the SDK's threads would have run library code again.
ZARN_CHILD_ROLE(UnloadsTheLibrary) {
  const std::string order = os::GetEnv("ZARN_TEST_UNLOAD").value_or("");
  if (!os::ChangeDirectory(os::GetEnv("ZARN_SDK_DATA_HOME").value_or(""))) return 1;
  SteamSim_SetAppId(kSteamAppId);
  SteamSim_SetTicketResponse(1, -1);
  void* library = os::OpenLibrary(ZARN_SDK_LIBRARY_FILE);
  if (library == nullptr) return 1;
  const Exports sdk = Exports::Load(library);
  sdk.Init(L"1001", L"zarn-demo-key", nullptr);
  if (order == "login") sdk.Login(nullptr);
  if (order == "exit") sdk.Exit();
  os::CloseLibrary(library);
  // Longer than the Steam pump's period and the ticket wait's polls: not a wait for anything.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  return 0;
}

// After a fork() the child must neither wait for the parent's threads nor send anything.
void ForkAfterInit(Game& game) {
  game.sdk.Init(L"1001", L"zarn-demo-key", Slot<1>::fn);
  ASSERT_EQ(Slot<1>::log().Single().code, 200);
  std::chrono::milliseconds took{};
  const std::optional<int> child = os::RunInForkedChild(
      [&game] {
        game.sdk.PostEvent(L"in_child", L"", 1.0);
        game.sdk.Exit();
        return 0;
      },
      took);
  if (!child) return;  // no fork() on this system
  EXPECT_EQ(*child, 0);
  EXPECT_LT(took, std::chrono::seconds(1)) << "the child waited for the parent's threads";
  game.sdk.PostEvent(L"in_parent", L"", 1.0);
  ASSERT_TRUE(WaitUntil([&game] {
    for (const auto& request : game.mock->Requests(paths::kAnalytics)) {
      EXPECT_EQ(request.body.find("in_child"), std::string::npos) << "the child sent an event";
      if (request.body.find("in_parent") != std::string::npos) return true;
    }
    return false;
  }));
}

ZARN_CHILD_ROLE(GameSession) { return boundary::Play(PlayGameSession); }
ZARN_CHILD_ROLE(ForkAfterInit) { return boundary::Play(ForkAfterInit); }
ZARN_CHILD_ROLE(StartOnce) { return boundary::Play(StartOnce); }

TEST(GameProcess, PlaysASessionFromStartUpToExit) {
  TempDir home;
  EXPECT_EQ(RunChild("GameSession", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

// Killed twice in the middle of a burst: the numbers go on after each restart, and a number
// that arrives twice (from the outbox) always has the same content.
TEST(GameProcess, AGameKilledMidBurstNeverReusesANumber) {
  TempDir home;
  zarnmock::MockOptions options;
  options.authority = TrustedAuthority();
  options.caCertFile = (home.path() / "ca.pem").string();
  zarnmock::MockBackend mock(options);
  mock.Start();
  for (int run = 0; run < 2; ++run) {
    const size_t before = mock.RequestCount(paths::kAnalytics);
    const os::Process game = os::StartProcess(os::ExecutablePath(), {"--zarn-child=PostsUntilKilled"},
                                              {{"ZARN_SDK_DATA_HOME", home.str()}, {"ZARN_SDK_API_ORIGIN", mock.Origin()}});
    const bool posted = mock.WaitForRequests(paths::kAnalytics, before + 100, std::chrono::seconds(30));
    os::Kill(game);
    ASSERT_TRUE(posted) << "run " << run;
  }
  std::map<std::string, std::string> byNumber;
  for (const auto& request : mock.Requests(paths::kAnalytics)) {
    const std::string number = json::parse(request.body).at("eventOrder");
    const auto [kept, fresh] = byNumber.emplace(number, request.body);
    EXPECT_TRUE(fresh || kept->second == request.body) << number << " sent with other content";
  }
  mock.Stop();
}

TEST(GameProcess, UnloadingTheLibraryInAnyOrderLeavesTheGameRunning) {
  TempDir home;
  std::vector<std::pair<std::string, os::Process>> games;
  for (const char* order : {"init", "login", "exit"}) {
    for (int run = 0; run < 10; ++run) {
      games.emplace_back(order, os::StartProcess(os::ExecutablePath(), {"--zarn-child=UnloadsTheLibrary"},
                                                 {{"ZARN_TEST_UNLOAD", order},
                                                  {"ZARN_SDK_DATA_HOME", home.str()},
                                                  {"ZARN_SDK_API_ORIGIN", "https://127.0.0.1:1"}}));
    }
  }
  for (const auto& [order, game] : games) EXPECT_EQ(os::WaitForExit(game, std::chrono::seconds(60)), 0) << order;
}

TEST(GameProcess, AForkedChildEndsAtOnceAndSendsNothing) {
  TempDir home;
  EXPECT_EQ(RunChild("ForkAfterInit", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

TEST(GameProcess, ARestartContinuesTheEventCounterAndDoesNotAttributeAgain) {
  TempDir home;
  for (const char* start : {"first", "next"}) {
    ASSERT_EQ(RunChild("StartOnce", {{"ZARN_SDK_DATA_HOME", home.str()}, {"ZARN_TEST_START", start}}), 0) << start;
  }
}

}  // namespace
}  // namespace zarntest
