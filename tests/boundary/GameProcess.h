// What the boundary scenarios share: a game process around the real shared library, with the
// mock backend and the stand-in Steam client set up as the library expects them when it loads.
// `Api` is the table of library functions a scenario calls: Api::Load(library) resolves it by
// exported name, and its Exit member ends the SDK.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "Os.h"
#include "TestAuthority.h"
#include "steam/steam_sim.h"
#include "tools/mock_backend/MockBackend.h"

namespace zarntest::boundary {

inline constexpr uint32_t kSteamAppId = 480;

template <class F>
void Resolve(void* library, const char* name, F& target) {
  target = reinterpret_cast<F>(os::LibrarySymbol(library, name));
  if (target == nullptr) throw std::runtime_error(std::string("the library does not export ") + name);
}

// The mock backend with the simulated Steam overlay's inbox, the environment the library reads
// when it loads, then the library, never unloaded (a game keeps it until it ends). The data
// folder (also the working folder, for zarnlog.log) is the parent test's.
template <class Api>
struct Game {
  Game() : home(os::GetEnv("ZARN_SDK_DATA_HOME").value_or("")) {
    if (home.empty() || !os::ChangeDirectory(home.string())) throw std::runtime_error("no ZARN_SDK_DATA_HOME");
    const std::filesystem::path inbox = home / "overlay";
    std::filesystem::create_directories(inbox);
    zarnmock::MockOptions options;
    options.authority = TrustedAuthority();
    options.caCertFile = (home / "ca.pem").string();
    options.steamSimDir = inbox.string();
    mock = std::make_unique<zarnmock::MockBackend>(options);
    mock->Start();
    os::SetEnv("ZARN_SDK_API_ORIGIN", mock->Origin());
    os::SetEnv("ZARN_STEAMSIM_DIR", inbox.string());
    os::SetEnv("ZARN_STEAMSIM_PURCHASE", "approve");
    SteamSim_SetAppId(kSteamAppId);
    SteamSim_SetTicketResponse(1, 0);
    void* library = os::OpenLibrary(ZARN_SDK_LIBRARY_FILE);
    if (library == nullptr) throw std::runtime_error("cannot load the library: " + os::LibraryError());
    sdk = Api::Load(library);
  }
  ~Game() {
    sdk.Exit();  // the SDK's workers stop before the server they may be talking to
    mock->Stop();
  }

  std::filesystem::path home;
  std::unique_ptr<zarnmock::MockBackend> mock;
  Api sdk;
};

// A child role's exit status: 0 unless an assertion failed (they print as they fail). Every
// request the game sent must have passed the server's checks.
template <class Api>
int Play(void (*scenario)(Game<Api>&)) {
  try {
    Game<Api> game;
    scenario(game);
    for (const auto& request : game.mock->Requests()) EXPECT_TRUE(request.ok) << request.path << ": " << request.reason;
  } catch (const std::exception& error) {
    ADD_FAILURE() << error.what();
  }
  return testing::UnitTest::GetInstance()->Failed() ? 1 : 0;
}

// An answer of the SDK's own: its code and message, and no data.
template <class Answer, class Text>
void ExpectSdkCode(const Answer& answer, int code, const Text& msg) {
  EXPECT_EQ(answer.code, code);
  EXPECT_EQ(answer.msg, msg);
  EXPECT_TRUE(answer.data.empty());
}

// The session's first order, approved in the simulated overlay: the game heard the payment
// result of the order the server created, which carried the identity the game set, in UTF-8.
inline void ExpectFirstOrderPaid(zarnmock::MockBackend& mock, int code, const std::string& data,
                                 const std::string& extInfo, const std::string& nickName) {
  EXPECT_EQ(code, 200) << data;
  const zarnmock::RecordedRequest created = mock.Requests(zarnmock::paths::kCreateOrder).at(0);
  const nlohmann::json order = nlohmann::json::parse(created.replyBody);
  EXPECT_EQ(data, nlohmann::json({{"amount", order["defaultAmountMicro"]}, {"currency", order["defaultCurrency"]},
                                  {"extInfo", extInfo}, {"orderId", order["orderId"]},
                                  {"productId", "gem_pack_large"}, {"quantity", 1}, {"status", 1}})
                      .dump());
  EXPECT_EQ(created.Param("nickName") + "|" + created.Param("serverId") + "|" + created.Param("gameUserId"),
            nickName + "|s-7|role-42");
}

// The session's one event arrived with the player's identity and level set before it.
inline void ExpectLevelEventWithIdentity(zarnmock::MockBackend& mock) {
  ASSERT_TRUE(mock.WaitForAnswers(zarnmock::paths::kAnalytics, 3));
  int seen = 0;
  for (const auto& request : mock.Requests(zarnmock::paths::kAnalytics)) {
    const nlohmann::json event = nlohmann::json::parse(request.body);
    if (event["event"] != "qzk_level_achieved") continue;
    ++seen;
    EXPECT_EQ(event["serverId"].get<std::string>() + " " + event["gameUserId"].get<std::string>(), "s-7 role-42");
    EXPECT_EQ(event["context"]["level"], 12);
    EXPECT_EQ(event["context"]["stage"], 3);
  }
  EXPECT_EQ(seen, 1);
}

}  // namespace zarntest::boundary
