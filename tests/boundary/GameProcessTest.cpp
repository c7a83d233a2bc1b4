// The real shared library as a game uses it: loaded at run time, its twelve exports resolved by
// their exported names and typed by ZarnProxy.h, against the mock backend on loopback and the
// stand-in Steam client. The library keeps one SDK per process that nothing resets, so each
// scenario is a game process of its own (a child role); the tests start them and read their
// verdict.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "GameProcess.h"
#include "Harness.h"
#include "ZarnProxy.h"
#include "zarnsdk.h"

namespace zarntest {
namespace {

using nlohmann::json;
namespace paths = zarnmock::paths;
template <int N>
using Slot = CallbackSlot<N>;
using boundary::kSteamAppId;
using boundary::Resolve;

// The twelve exports, by the names GCC gives their declarations (Itanium C++ ABI); W is
// std::wstring.
#define W "NSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE"
#define ZARN_EXPORTS(X)                                                                                \
  X(CallPay, "7CallPayE" W "S5_PFviS5_S5_E") X(Exit, "4ExitEv") X(Init, "4InitE" W "S5_PFviS5_S5_E")  \
  X(IsPayAvailable, "14IsPayAvailableEv") X(Login, "5LoginEPFvi" W "S5_E") X(Logout, "6LogoutEv")      \
  X(PostEvent, "9PostEventERK" W "S7_d") X(QueryProducts, "13QueryProductsEPFvi" W "S5_E")             \
  X(SetGameUserId, "13SetGameUserIdE" W) X(SetLevel, "8SetLevelEi") X(SetNickName, "11SetNickNameE" W) \
  X(SetServerId, "11SetServerIdE" W)
struct Exports {
#define FIELD(name, mangled) decltype(&ZarnProxy::name) name = nullptr;
  ZARN_EXPORTS(FIELD)
#undef FIELD
  static Exports Load(void* library) {
    Exports e;
#define RESOLVE(name, mangled) Resolve(library, "_ZN9ZarnProxy" mangled, e.name);
    ZARN_EXPORTS(RESOLVE)
#undef RESOLVE
    return e;
  }
};
#undef ZARN_EXPORTS
#undef W

using Game = boundary::Game<Exports>;

// The one answer of call N: before the call returned, on the calling thread, or (`later`) for a
// call that waits for the server or Steam, on one of the SDK's threads.
template <int N>
CallbackRecord Single(bool later) {
  const CallbackRecord record = Slot<N>::log().Single(std::chrono::seconds(30));
  EXPECT_EQ(record.thread == std::this_thread::get_id(), !later) << "call " << N << " on the wrong thread";
  return record;
}

template <int... N>
void ExpectEachAnsweredOnce(std::integer_sequence<int, N...>) {
  const size_t counts[] = {Slot<N + 1>::log().Count()...};
  for (size_t i = 0; i < sizeof...(N); ++i) EXPECT_EQ(counts[i], 1u) << "call " << i + 1;
}

// Records the answer, then throws as a game's callback may. The SDK calls it on a worker, on
// the calling thread and on a login's ticket-wait thread below: the game goes on, and Exit
// returns (every thread's end is counted).
template <int N>
void Throwing(int code, std::wstring msg, std::wstring data) {
  Slot<N>::fn(code, std::move(msg), std::move(data));
  throw std::runtime_error("the game's callback failed");
}

void PlayGameSession(Game& game) {
  const Exports& sdk = game.sdk;
  zarnmock::MockBackend& mock = *game.mock;

  // Before start-up a null callback is skipped, never called (the install's consumer checks the
  // refusals themselves).
  sdk.Login(nullptr);
  sdk.CallPay(L"gem_pack_small", L"", nullptr);

  sdk.Init(L"1001", L"zarn-demo-key", Throwing<1>);
  const CallbackRecord started = Single<1>(true);
  ASSERT_EQ(started.code, 200) << started.msg;
  EXPECT_EQ(started.data, mock.Requests(paths::kClientConfig).at(0).replyBody);
  sdk.Init(L"1001", L"zarn-demo-key", nullptr);
  EXPECT_TRUE(sdk.IsPayAvailable());
  // A child made by fork() must neither wait for the SDK's threads nor send anything (its event
  // would be one too many at the end).
  std::chrono::milliseconds took{};
  const std::optional<int> child =
      os::RunInForkedChild([&sdk] { return sdk.PostEvent(L"in_child", L"", 1), sdk.Exit(), 0; }, took);
  EXPECT_TRUE(!child || (*child == 0 && took < std::chrono::seconds(1))) << "the forked child ended with " << child.value_or(-1) << " after " << took.count() << " ms";

  // The player's identity, with a character beyond the BMP, reaches events and orders as UTF-8.
  sdk.SetServerId(L"s-7");
  sdk.SetGameUserId(L"role-42");
  sdk.SetNickName(L"Night Owl \U0001F989");
  sdk.SetLevel(12);
  sdk.PostEvent(L"qzk_level_achieved", LR"({"stage":3})", 1.5);

  sdk.Login(Slot<2>::fn);
  const CallbackRecord login = Single<2>(true);
  ASSERT_EQ(login.code, 200) << login.msg;
  EXPECT_EQ(login.data, mock.Requests(paths::kLogin).at(0).replyBody);
  sdk.QueryProducts(Slot<3>::fn);
  ASSERT_EQ(Slot<3>::log().Single().code, 200);  // on either thread: the catalogue may be loaded

  sdk.CallPay(L"gem_pack_large", L"ext-\u4e2d", Slot<4>::fn);
  const CallbackRecord paid = Single<4>(true);
  boundary::ExpectFirstOrderPaid(mock, paid.code, paid.data, "ext-\xE4\xB8\xAD", "Night Owl \xF0\x9F\xA6\x89");
  sdk.Logout();
  sdk.CallPay(L"gem_pack_small", L"", Throwing<5>);
  boundary::ExpectSdkCode(Single<5>(false), -405, "Not Login.");
  boundary::ExpectLevelEventWithIdentity(mock);

  // Exit ends a login that waits for Steam's ticket answer; afterwards nothing is sent.
  SteamSim_SetTicketResponse(1, -1);
  sdk.Login(Throwing<6>);
  sdk.Exit();
  boundary::ExpectSdkCode(Single<6>(true), -400, "Process Exit!");
  const size_t sent = mock.Requests().size();
  sdk.PostEvent(L"after_exit", L"", 0.0);
  EXPECT_FALSE(mock.WaitForRequests(paths::kAnalytics, 4, std::chrono::seconds(1))) << "an event sent after Exit";
  EXPECT_EQ(mock.Requests().size(), sent);
  ExpectEachAnsweredOnce(std::make_integer_sequence<int, 6>());
}

// A game that loads the library and starts the SDK without waiting for its answer; nullopt
// when the library cannot be loaded.
std::optional<Exports> LoadAndInit(void*& library) {
  if (!os::ChangeDirectory(os::GetEnv("ZARN_SDK_DATA_HOME").value_or(""))) return std::nullopt;
  SteamSim_SetAppId(kSteamAppId);
  library = os::OpenLibrary(ZARN_SDK_LIBRARY_FILE);
  if (library == nullptr) return std::nullopt;
  const Exports sdk = Exports::Load(library);
  sdk.Init(L"1001", L"zarn-demo-key", nullptr);
  return sdk;
}

// A game that posts events, each different (ZARN_TEST_EVENTS of them, else without end), against
// the parent's server, and runs until it is killed.
ZARN_CHILD_ROLE(PostsUntilKilled) {
  void* library = nullptr;
  const std::optional<Exports> sdk = LoadAndInit(library);
  const int events = std::stoi(os::GetEnv("ZARN_TEST_EVENTS").value_or("2000000000"));
  for (int i = 0; sdk; ++i) {
    if (i < events) sdk->PostEvent(L"burst", L"{\"i\":" + std::to_wstring(i) + L"}", i);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a game's pace, not a wait for anything
  }
  return 1;
}

// A game that unloads the library after Init, during a login's ticket wait, or right after
// Exit, and then goes on running while the SDK's threads would have run library code again.
ZARN_CHILD_ROLE(UnloadsTheLibrary) {
  const std::string order = os::GetEnv("ZARN_TEST_UNLOAD").value_or("");
  SteamSim_SetTicketResponse(1, -1);
  void* library = nullptr;
  const std::optional<Exports> sdk = LoadAndInit(library);
  if (!sdk) return 1;
  if (order == "login") sdk->Login(nullptr);
  if (order == "exit") sdk->Exit();
  os::CloseLibrary(library);
  // Longer than the Steam pump's period and the ticket wait's polls: not a wait for anything.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  return 0;
}

ZARN_CHILD_ROLE(GameSession) { return boundary::Play(PlayGameSession); }

// A game whose main returns (without Exit) while its payment callback still runs on an SDK
// worker and two of its threads keep calling the SDK. Each step waits for a condition, with a
// deadline: a process that ends on its own never hangs the test.
std::atomic<bool> mainReturned{false}, inCallback{false}, staticsGone{false}, lingered{false};
const Exports* lateApi = nullptr;
bool Await(const std::atomic<bool>& flag) { return WaitUntil([&flag] { return flag.load(); }, 60s); }

// Built before the library is loaded, so destroyed after the library's static objects: then the
// callback goes on calling the SDK, and returns into it.
struct DestroyedLast {
  ~DestroyedLast() {
    if (!mainReturned) return;
    staticsGone = true;
    Await(lingered);
  }
} destroyedLast;

void LingerInCallback(int, std::wstring, std::wstring) {
  inCallback = true;
  Await(staticsGone);
  for (int i = 0; i < 50; ++i) lateApi->SetLevel(i), lateApi->PostEvent(L"late", L"", i);
  lingered = true;
}

ZARN_CHILD_ROLE(EndsWhileTheSdkWorks) {
  auto* game = new boundary::Game<Exports>();  // never destroyed: the game never calls Exit
  lateApi = &game->sdk;
  game->mock->SetIsTestDevice(1);  // the file log, and a log handler, take every line
  // A test device's log lines also go to standard output, thousands of them here.
  if (std::freopen((game->home / "stdout.log").string().c_str(), "w", stdout) == nullptr) return 1;
  decltype(&zarn_set_log_handler) setHandler = nullptr;
  Resolve(os::OpenLibrary(ZARN_SDK_LIBRARY_FILE), "zarn_set_log_handler", setHandler);
  setHandler(ZARN_LOG_DEBUG, [](int32_t, const char*, void*) {}, nullptr);
  // Each step's own exit status, should it fail.
  game->sdk.Init(L"1001", L"zarn-demo-key", Slot<1>::fn);
  if (Slot<1>::log().Single(60s).code != 200) return 2;
  game->sdk.Login(Slot<2>::fn);
  if (Slot<2>::log().Single(60s).code != 200) return 3;
  game->sdk.CallPay(L"gem_pack_small", L"", LingerInCallback);
  if (!Await(inCallback)) return 4;
  game->mock->Stop();
  for (int t = 0; t < 2; ++t) {
    std::thread([] {
      for (int i = 0;; ++i) lateApi->SetLevel(i), lateApi->SetNickName(L"n" + std::to_wstring(i));
    }).detach();
  }
  mainReturned = true;
  return 0;
}

// The sanitizers' exit work that is not the SDK's: the leak checker's scan (which would wait for
// allocator locks the threads of a forked child's parent held, or report what a game that never
// calls Exit keeps) and the thread sanitizer's one-second sleep.
std::map<std::string, std::string> WithoutSanitizersExitWork(std::map<std::string, std::string> env) {
  for (const auto& [name, option] : {std::pair{"ASAN_OPTIONS", "detect_leaks=0"}, std::pair{"TSAN_OPTIONS", "atexit_sleep_ms=0"}}) {
    const std::string options = os::GetEnv(name).value_or("");
    env[name] = options + (options.empty() ? "" : ":") + option;
  }
  return env;
}

TEST(GameProcess, PlaysASessionFromStartUpToExit) {
  TempDir home;
  // The session forks, and its forked child's exit is timed.
  EXPECT_EQ(RunChild("GameSession", WithoutSanitizersExitWork({{"ZARN_SDK_DATA_HOME", home.str()}})), 0);
}

// Killed while the server fails, once the outbox it keeps while it runs holds its events: the
// next start delivers every one of them. Then killed twice in the middle of a burst: the numbers
// go on after each restart, and a number that arrives twice (from the outbox) always has the
// same content.
TEST(GameProcess, AGameKilledOfflineOrMidBurstLosesNoEventAndNeverReusesANumber) {
  TempDir home;
  zarnmock::MockOptions options;
  options.authority = TrustedAuthority();
  options.caCertFile = (home.path() / "ca.pem").string();
  zarnmock::MockBackend mock(options);
  mock.Start();
  const auto startGame = [&](const std::string& events) {
    return os::StartProcess(os::ExecutablePath(), {"--zarn-child=PostsUntilKilled"},
                            {{"ZARN_SDK_DATA_HOME", home.str()}, {"ZARN_SDK_API_ORIGIN", mock.Origin()},
                             {"ZARN_TEST_EVENTS", events}});
  };
  constexpr size_t kOffline = 21;  // the start-up event and 20 of the game's
  mock.Script(paths::kAnalytics, {.failuresBeforeSuccess = 1 << 30});
  const os::Process offline = startGame(std::to_string(kOffline - 1));
  const auto outbox = home.path() / "ZarnSteamExeSdk" / std::to_string(kSteamAppId) / "EventOutbox";
  const bool saved = WaitUntil([&] { return json::parse(ReadFile(outbox), nullptr, false).size() == kOffline; }, 30s);
  os::Kill(offline);
  ASSERT_TRUE(saved) << ReadFile(outbox).substr(0, 300);
  mock.ClearScript(paths::kAnalytics);
  for (int run = 0; run < 2; ++run) {
    const size_t before = mock.RequestCount(paths::kAnalytics);
    const os::Process game = startGame("2000000000");
    const bool posted = mock.WaitForRequests(paths::kAnalytics, before + 100, std::chrono::seconds(30));
    os::Kill(game);
    ASSERT_TRUE(posted) << "run " << run;
  }
  std::map<std::string, std::string> byNumber;
  std::set<std::string> delivered;
  for (const auto& request : mock.Requests(paths::kAnalytics)) {
    const std::string number = json::parse(request.body).at("eventOrder");
    const auto [kept, fresh] = byNumber.emplace(number, request.body);
    EXPECT_TRUE(fresh || kept->second == request.body) << number << " sent with other content";
    if (request.replyStatus == 200) delivered.insert(number);
  }
  for (size_t n = 1; n <= kOffline; ++n) EXPECT_EQ(delivered.count("n" + std::to_string(n)), 1u) << n;
  mock.Stop();
}

TEST(GameProcess, UnloadingTheLibraryInAnyOrderLeavesTheGameRunning) {
  TempDir home;
  std::vector<std::pair<std::string, os::Process>> games;
  for (const char* order : {"init", "login", "exit"}) {
    for (int run = 0; run < 10; ++run) {
      // Unloaded without Exit, the library stays mapped with its Steam thread: the leak checker's
      // scan of that thread's dynamic TLS faults, which says nothing of the game.
      games.emplace_back(order, os::StartProcess(os::ExecutablePath(), {"--zarn-child=UnloadsTheLibrary"},
                                                 WithoutSanitizersExitWork({{"ZARN_TEST_UNLOAD", order},
                                                                            {"ZARN_SDK_DATA_HOME", home.str()},
                                                                            {"ZARN_SDK_API_ORIGIN", "https://127.0.0.1:1"}})));
    }
  }
  for (const auto& [order, game] : games) EXPECT_EQ(os::WaitForExit(game, std::chrono::seconds(60)), 0) << order;
}

TEST(GameProcess, EndingWhileACallbackRunsAndGameThreadsCallTheSdkIsClean) {
  for (int batch = 0; batch < 4; ++batch) {  // 20 games, five at a time
    std::vector<std::unique_ptr<TempDir>> homes;
    std::vector<os::Process> games;
    for (int run = 0; run < 5; ++run) {
      homes.push_back(std::make_unique<TempDir>());
      games.push_back(os::StartProcess(os::ExecutablePath(), {"--zarn-child=EndsWhileTheSdkWorks"},
                                       WithoutSanitizersExitWork({{"ZARN_SDK_DATA_HOME", homes.back()->str()}})));
    }
    for (size_t run = 0; run < games.size(); ++run) {
      EXPECT_EQ(os::WaitForExit(games[run], 180s), 0) << "batch " << batch << ", run " << run;
    }
  }
}

}  // namespace
}  // namespace zarntest
