// The library's C interface (zarnsdk.h), as a game in C, C# or another engine's plugin layer
// sees it: the functions resolved by their C names, texts as UTF-8 bytes with explicit lengths,
// and the caller's user pointer handed back, and the log handler an engine's console uses. The
// rest of a session is GameProcessTest.cpp's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "GameProcess.h"
#include "Harness.h"
#include "ZarnCExports.h"
#include "zarnsdk.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
using boundary::Resolve;

// Every C function of zarnsdk.h, resolved by its name: zarn_ and the member's.
struct CApi {
#define FIELD(name) decltype(&zarn_##name) name = nullptr;
  ZARN_C_EXPORTS(FIELD)
#undef FIELD
  static CApi Load(void* library) {
    CApi c;
#define RESOLVE(name) Resolve(library, "zarn_" #name, c.name);
    ZARN_C_EXPORTS(RESOLVE)
#undef RESOLVE
    return c;
  }
  void Exit() const { exit(); }
};
#undef ZARN_C_EXPORTS
using Game = boundary::Game<CApi>;

// The answers to each call of the scenario, in the log its user pointer names. Call 0 goes with
// every null callback. Never destroyed: SDK threads may answer at exit.
constexpr int kCalls = 8;
CallbackLog* const calls = new CallbackLog[kCalls];
std::atomic<int> strays{0};  // answers whose user pointer is no call's

void* At(int n) { return &calls[n]; }
std::string Bytes(const char* text) { return text != nullptr ? text : "?"; }

void Record(int32_t code, const char* msg, const char* data, void* user) {
  const auto at = reinterpret_cast<std::uintptr_t>(user) - reinterpret_cast<std::uintptr_t>(calls);
  if (user == nullptr || at >= kCalls * sizeof(CallbackLog) || at % sizeof(CallbackLog) != 0) return void(++strays);
  static_cast<CallbackLog*>(user)->Add(code, Bytes(msg), Bytes(data));
}

// The one answer of call n: before the call returned, on the calling thread, or (`later`) for a
// call that waits for the server or Steam, on one of the SDK's threads; either without `later`.
CallbackRecord Single(int n, std::optional<bool> later) {
  const CallbackRecord answer = calls[n].Single(30s);
  EXPECT_TRUE(!later || (answer.thread == std::this_thread::get_id()) != *later) << "call " << n << ": wrong thread";
  return answer;
}

void PlayThroughTheCInterface(Game& game) {
  const CApi& c = game.sdk;
  zarnmock::MockBackend& mock = *game.mock;
  c.login(nullptr, At(0));  // before start-up (the install's consumer checks the refusal itself)

  // Explicit lengths end the texts, whatever follows.
  c.init("1001-not-this", 4, "zarn-demo-key\0not-this", 13, Record, At(1));
  const CallbackRecord started = Single(1, true);
  ASSERT_EQ(started.code, ZARN_OK) << started.msg;
  const auto config = mock.Requests(paths::kClientConfig).at(0);
  EXPECT_EQ(started.data, config.replyBody);
  EXPECT_EQ(config.Param("appId"), "1001");
  EXPECT_TRUE(config.ok) << "signed with another key than \"zarn-demo-key\": " << config.reason;
  c.init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, nullptr, At(0));
  EXPECT_EQ(c.is_pay_available(), 1);

  // A character beyond the BMP passes as it is; a byte that is no UTF-8 becomes U+FFFD.
  c.set_server_id("s-7", ZARN_NTS);
  c.set_game_user_id("role-42\0not-this", 7);
  c.set_nick_name("Night Owl \xF0\x9F\xA6\x89\xFF", ZARN_NTS);
  c.set_level(12);
  c.post_event("qzk_level_achieved", ZARN_NTS, R"({"stage":3}x)", 11, 1.5);

  c.login(Record, At(3));
  ASSERT_EQ(Single(3, true).code, ZARN_OK);
  c.query_products(Record, At(4));
  ASSERT_EQ(Single(4, std::nullopt).code, ZARN_OK);  // the catalogue may be loaded
  c.call_pay("gem_pack_small\0x", 16, "", 0, Record, At(5));  // U+0000 is part of the id
  boundary::ExpectSdkCode(Single(5, false), ZARN_PRODUCT_NOT_FOUND, "Not Found Product.");
  c.call_pay("gem_pack_large", ZARN_NTS, "ext-\xE4\xB8\xAD\xC0", 8, Record, At(6));
  const CallbackRecord paid = Single(6, true);
  boundary::ExpectFirstOrderPaid(mock, paid.code, paid.data, "ext-\xE4\xB8\xAD\xEF\xBF\xBD",
                                 "Night Owl \xF0\x9F\xA6\x89\xEF\xBF\xBD");
  boundary::ExpectLevelEventWithIdentity(mock);

  c.logout();
  c.call_pay("gem_pack_small", ZARN_NTS, "", 0, Record, At(2));
  boundary::ExpectSdkCode(Single(2, false), ZARN_NOT_LOGIN, "Not Login.");
  SteamSim_SetTicketResponse(1, -1);
  c.login(Record, At(7));
  c.exit();
  boundary::ExpectSdkCode(Single(7, true), ZARN_PROCESS_EXIT, "Process Exit!");
  for (int n = 0; n < kCalls; ++n) EXPECT_EQ(calls[n].Count(), n == 0 ? 0u : 1u) << "call " << n;
  EXPECT_EQ(strays, 0) << "answers came with a user pointer that no call passed";
}

ZARN_CHILD_ROLE(CInterfaceSession) { return boundary::Play(PlayThroughTheCInterface); }

TEST(CInterface, PlaysASessionFromStartUpToExit) {
  TempDir home;
  EXPECT_EQ(RunChild("CInterfaceSession", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

// ---- the log handler. What it heard (level, or -1 with a user pointer not ours), never
// destroyed: SDK threads may log at exit.
struct Heard {
  int32_t level;
  std::string message;
  std::thread::id thread;
};
std::mutex heardMutex;
auto* const heard = new std::vector<Heard>();
const CApi* api = nullptr;
int handlerUser;
std::thread::id gameThread;
std::atomic<int32_t> handlerLevel{ZARN_LOG_DEBUG};

std::vector<Heard> TakeHeard() {
  std::lock_guard<std::mutex> lock(heardMutex);
  return std::exchange(*heard, {});
}

// Records the line, then does what a careless engine might: calls the SDK (which takes its locks
// and logs in turn), sets itself again, and throws.
void HearCarelessly(int32_t level, const char* message, void* user) {
  {
    std::lock_guard<std::mutex> lock(heardMutex);
    heard->push_back({user == &handlerUser ? level : -1, message, std::this_thread::get_id()});
  }
  api->is_pay_available();
  api->set_level(1);
  if (std::this_thread::get_id() == gameThread) api->set_log_handler(handlerLevel, HearCarelessly, &handlerUser);
  throw std::runtime_error("from the log handler");
}

size_t CountOnThisThread(const std::vector<Heard>& lines, int32_t level, const std::string& message) {
  size_t n = 0;
  for (const Heard& h : lines) n += h.level == level && h.message == message && h.thread == gameThread;
  return n;
}

void PlayWithALogHandler(Game& game) {
  const CApi& c = game.sdk;
  zarnmock::MockBackend& mock = *game.mock;
  api = &c;
  gameThread = std::this_thread::get_id();
  c.set_log_handler(ZARN_LOG_DEBUG, HearCarelessly, &handlerUser);

  // Before start-up the logger prints nothing; the handler hears the lines all the same.
  testing::internal::CaptureStdout();
  c.post_event("early", ZARN_NTS, "", 0, 1.0);
  c.logout();
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.find("Post Event Before Init"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("Logout Success."), std::string::npos) << printed;
  const std::vector<Heard> early = TakeHeard();
  EXPECT_EQ(CountOnThisThread(early, ZARN_LOG_ERROR, "Post Event Before Init:early"), 1u);
  EXPECT_EQ(CountOnThisThread(early, ZARN_LOG_INFO, "Logout Success."), 1u);

  // A session with a purchase: the handler throws and calls the SDK on every line, some of them
  // logged under the SDK's locks (Steam's reports), and nothing suffers.
  c.init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, Record, At(1));
  ASSERT_EQ(Single(1, true).code, ZARN_OK);
  c.login(Record, At(2));
  ASSERT_EQ(Single(2, true).code, ZARN_OK);
  c.call_pay("gem_pack_large", ZARN_NTS, "", 0, Record, At(3));
  ASSERT_EQ(Single(3, true).code, ZARN_OK);
  const zarnmock::RecordedRequest login = mock.Requests(paths::kLogin).at(0);
  const std::string secrets[] = {nlohmann::json::parse(login.replyBody).at("token"), login.Param("accessToken"),
                                 "zarn-demo-key"};
  bool fromSdkThreads = false, requestLine = false;
  for (const Heard& h : TakeHeard()) {
    EXPECT_GE(h.level, ZARN_LOG_DEBUG) << h.message;
    EXPECT_EQ(h.message.find_first_of("\r\n"), std::string::npos) << h.message;
    EXPECT_NE(h.message, "Set Game User Info, SetLevel:1") << "the handler heard its own call";
    for (const std::string& secret : secrets) EXPECT_EQ(h.message.find(secret), std::string::npos) << h.message;
    fromSdkThreads |= h.thread != gameThread;
    // "请求地址：" (request address), converted from the SDK's GBK text.
    requestLine |= h.message.rfind("\xE8\xAF\xB7\xE6\xB1\x82\xE5\x9C\xB0\xE5\x9D\x80\xEF\xBC\x9A" + mock.Origin(), 0) == 0;
  }
  EXPECT_TRUE(fromSdkThreads);
  EXPECT_TRUE(requestLine);
  EXPECT_FALSE(std::filesystem::exists(game.home / "zarnlog.log")) << "not a test device: no file log";

  // One line of each level, heard from the level asked for up; after removal, none.
  struct Case {
    int32_t minLevel;  // -1: no handler
    size_t info, warning, error;
  };
  for (const Case& k : {Case{ZARN_LOG_DEBUG, 1, 1, 1}, Case{ZARN_LOG_INFO, 1, 1, 1}, Case{ZARN_LOG_WARNING, 0, 1, 1},
                        Case{ZARN_LOG_ERROR, 0, 0, 1}, Case{-1, 0, 0, 0}}) {
    handlerLevel = k.minLevel;
    c.set_log_handler(k.minLevel, k.minLevel < 0 ? nullptr : HearCarelessly, &handlerUser);
    TakeHeard();
    c.set_level(5);
    c.call_pay("no_such", ZARN_NTS, "", 0, nullptr, nullptr);
    c.post_event("bad name", ZARN_NTS, "", 0, 0.0);
    const std::vector<Heard> lines = TakeHeard();
    EXPECT_EQ(CountOnThisThread(lines, ZARN_LOG_INFO, "Set Game User Info, SetLevel:5"), k.info) << k.minLevel;
    EXPECT_EQ(CountOnThisThread(lines, ZARN_LOG_WARNING, "Not Found Product\xEF\xBC\x9Ano_such"), k.warning);
    EXPECT_EQ(CountOnThisThread(lines, ZARN_LOG_ERROR, "Post Event Name Error:bad name"), k.error) << k.minLevel;
  }
  c.exit();
  EXPECT_TRUE(TakeHeard().empty());
}

ZARN_CHILD_ROLE(LogHandlerSession) { return boundary::Play(PlayWithALogHandler); }

TEST(CInterface, LogHandlerHearsTheLevelsAskedForWithoutSecretsAndSurvivesACarelessHandler) {
  TempDir home;
  EXPECT_EQ(RunChild("LogHandlerSession", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

}  // namespace
}  // namespace zarntest
