// The library's C interface (zarnsdk.h), as a game in C, C# or another engine's plugin layer
// sees it: the functions resolved by their C names, texts as UTF-8 bytes with explicit lengths,
// and the caller's user pointer handed back. The rest of a session is GameProcessTest.cpp's.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "GameProcess.h"
#include "Harness.h"
#include "zarnsdk.h"

namespace zarntest {
namespace {

namespace paths = zarnmock::paths;
using boundary::Resolve;

// The C functions, resolved by their names: zarn_ and the member's.
#define ZARN_C_EXPORTS(X)                                                                          \
  X(version) X(init) X(login) X(logout) X(query_products) X(call_pay) X(is_pay_available) X(post_event) \
  X(set_server_id) X(set_game_user_id) X(set_nick_name) X(set_level) X(exit)
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

// The answers to each call of the scenario, in the log its user pointer names, the texts' bytes
// one to a wide character. Call 0 goes with every null callback. Never destroyed: SDK threads may
// answer at exit.
constexpr int kCalls = 8;
CallbackLog* const calls = new CallbackLog[kCalls];
std::atomic<int> strays{0};  // answers whose user pointer is no call's

void* At(int n) { return &calls[n]; }
std::wstring Bytes(const char* text) { return text != nullptr ? std::wstring(text, text + std::strlen(text)) : L"?"; }
std::string Utf8(const std::wstring& bytes) { return std::string(bytes.begin(), bytes.end()); }

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
  ASSERT_EQ(started.code, ZARN_OK) << Utf8(started.msg);
  const auto config = mock.Requests(paths::kClientConfig).at(0);
  EXPECT_EQ(Utf8(started.data), config.replyBody);
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
  boundary::ExpectSdkCode(Single(5, false), ZARN_PRODUCT_NOT_FOUND, L"Not Found Product.");
  c.call_pay("gem_pack_large", ZARN_NTS, "ext-\xE4\xB8\xAD\xC0", 8, Record, At(6));
  const CallbackRecord paid = Single(6, true);
  boundary::ExpectFirstOrderPaid(mock, paid.code, Utf8(paid.data), "ext-\xE4\xB8\xAD\xEF\xBF\xBD",
                                 "Night Owl \xF0\x9F\xA6\x89\xEF\xBF\xBD");
  boundary::ExpectLevelEventWithIdentity(mock);

  c.logout();
  c.call_pay("gem_pack_small", ZARN_NTS, "", 0, Record, At(2));
  boundary::ExpectSdkCode(Single(2, false), ZARN_NOT_LOGIN, L"Not Login.");
  SteamSim_SetTicketResponse(1, -1);
  c.login(Record, At(7));
  c.exit();
  boundary::ExpectSdkCode(Single(7, true), ZARN_PROCESS_EXIT, L"Process Exit!");
  for (int n = 0; n < kCalls; ++n) EXPECT_EQ(calls[n].Count(), n == 0 ? 0u : 1u) << "call " << n;
  EXPECT_EQ(strays, 0) << "answers came with a user pointer that no call passed";
}

ZARN_CHILD_ROLE(CInterfaceSession) { return boundary::Play(PlayThroughTheCInterface); }

TEST(CInterface, PlaysASessionFromStartUpToExit) {
  TempDir home;
  EXPECT_EQ(RunChild("CInterfaceSession", {{"ZARN_SDK_DATA_HOME", home.str()}}), 0);
}

}  // namespace
}  // namespace zarntest
