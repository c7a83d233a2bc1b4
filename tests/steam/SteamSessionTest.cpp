// Start-up, interfaces, settings and shutdown of the stand-in Steam client.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CleanSteamEnvironment.h"
#include "Harness.h"
#include "steam/steam_api_subset.h"
#include "steam/steam_sim.h"

namespace {

using steamtest::CleanSteamEnvironment;
using zarntest::ScopedEnv;

// The full version list with one name left out.
std::string VersionsWithout(const char* omitted) {
  static const char full[] = STEAMWORKS_CLIENT_INTERFACE_VERSIONS;
  std::string list;
  for (const char* name = full; *name != '\0'; name += std::strlen(name) + 1) {
    if (std::strcmp(name, omitted) != 0) list.append(name, std::strlen(name) + 1);
  }
  list.push_back('\0');
  return list;
}

TEST(SteamSession, InitNeedsRunningClientAndBothInterfaceVersions) {
  CleanSteamEnvironment clean;
  SteamErrMsg message;

  SteamSim_SetClientRunning(false);
  std::strcpy(message, "untouched");
  EXPECT_EQ(SteamInternal_SteamAPI_Init(STEAMWORKS_CLIENT_INTERFACE_VERSIONS, &message),
            k_ESteamAPIInitResult_NoSteamClient);
  EXPECT_STRNE(message, "untouched");
  EXPECT_STRNE(message, "");
  EXPECT_EQ(SteamUser(), nullptr);
  EXPECT_EQ(SteamAPI_GetHSteamUser(), 0);

  SteamSim_SetClientRunning(true);
  for (const char* required : {STEAMUSER_INTERFACE_VERSION, STEAMUTILS_INTERFACE_VERSION}) {
    const std::string list = VersionsWithout(required);
    EXPECT_EQ(SteamInternal_SteamAPI_Init(list.c_str(), &message), k_ESteamAPIInitResult_VersionMismatch);
    EXPECT_NE(std::strstr(message, required), nullptr) << message;
    EXPECT_EQ(SteamUtils(), nullptr);
  }
  // Other versions of the list are not required.
  const std::string withoutVideo = VersionsWithout("STEAMVIDEO_INTERFACE_V002");
  EXPECT_EQ(SteamInternal_SteamAPI_Init(withoutVideo.c_str(), &message), k_ESteamAPIInitResult_OK);
  EXPECT_STREQ(message, "");
  SteamAPI_Shutdown();

  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_NE(SteamAPI_GetHSteamUser(), 0);
  EXPECT_NE(SteamUser(), nullptr);
  EXPECT_NE(SteamUtils(), nullptr);
  EXPECT_NE(static_cast<void*>(SteamUser()), static_cast<void*>(SteamUtils()));
  EXPECT_EQ(SteamInternal_FindOrCreateUserInterface(SteamAPI_GetHSteamUser(), "SteamFriends017"), nullptr);
  EXPECT_EQ(SteamInternal_FindOrCreateUserInterface(SteamAPI_GetHSteamUser(), nullptr), nullptr);
  // A second start while running keeps the session.
  ISteamUser* user = SteamUser();
  EXPECT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamUser(), user);
}

TEST(SteamSession, DefaultsAndAppIdSources) {
  CleanSteamEnvironment clean;
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 480u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), 76561198000000001ULL);
  EXPECT_TRUE(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()));
  SteamAPI_Shutdown();

  // The environment is read at start-up: steam_appid.txt in the working directory, then the
  // SteamAppId variable before it.
  zarntest::WriteFile(clean.Cwd() / "steam_appid.txt", "570\r\n");
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 570u);
  SteamAPI_Shutdown();

  ScopedEnv appId("SteamAppId", "730");
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 730u);
  SteamAPI_Shutdown();

  // Unusable values fall back to the next source instead of being half-read.
  ScopedEnv badAppId("SteamAppId", "730x");
  ScopedEnv badSteamId("ZARN_STEAMSIM_STEAMID", "-5");
  ScopedEnv badOverlay("ZARN_STEAMSIM_OVERLAY", "yes");
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 570u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), 76561198000000001ULL);
  EXPECT_TRUE(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()));
}

TEST(SteamSession, ControlApiWinsOverEnvironmentUntilReset) {
  CleanSteamEnvironment clean;
  ScopedEnv running("ZARN_STEAMSIM_RUNNING", "0");
  ScopedEnv appId("SteamAppId", "1111");
  ScopedEnv steamId("ZARN_STEAMSIM_STEAMID", "76561198000000999");
  ScopedEnv overlay("ZARN_STEAMSIM_OVERLAY", "0");

  EXPECT_FALSE(SteamAPI_Init());
  SteamSim_SetClientRunning(true);
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 1111u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), 76561198000000999ULL);
  EXPECT_FALSE(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()));

  // Control values take effect at once, also in a running session.
  SteamSim_SetAppId(2222);
  SteamSim_SetSteamId(18446744073709551615ULL);
  SteamSim_SetOverlayEnabled(true);
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 2222u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), 18446744073709551615ULL);
  EXPECT_TRUE(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()));

  // ... and survive a restart that reads the environment again.
  SteamAPI_Shutdown();
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 2222u);

  // Reset forgets them: the environment of the last start applies again.
  SteamSim_Reset();
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(SteamUtils()), 1111u);
  EXPECT_FALSE(SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils()));
  SteamAPI_Shutdown();
  EXPECT_FALSE(SteamAPI_Init());
}

TEST(SteamSession, ShutdownInvalidatesInterfacesAndInitWorksAgain) {
  CleanSteamEnvironment clean;
  ASSERT_TRUE(SteamAPI_Init());
  ISteamUser* oldUser = SteamUser();
  ISteamUtils* oldUtils = SteamUtils();
  ASSERT_NE(oldUser, nullptr);

  SteamAPI_Shutdown();
  EXPECT_EQ(SteamUser(), nullptr);
  EXPECT_EQ(SteamUtils(), nullptr);
  EXPECT_EQ(SteamAPI_GetHSteamUser(), 0);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(oldUser), 0u);
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(oldUtils), 0u);
  uint8_t buffer[4096];
  uint32_t size = 77;
  EXPECT_EQ(SteamAPI_ISteamUser_GetAuthSessionTicket(oldUser, buffer, sizeof buffer, &size, nullptr), 0u);
  EXPECT_EQ(size, 0u);
  SteamAPI_Shutdown();  // a second shutdown is harmless

  ASSERT_TRUE(SteamAPI_Init());
  ASSERT_NE(SteamUser(), nullptr);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(SteamUser()), 76561198000000001ULL);
  // A pointer of the ended session stays invalid, and interfaces are not interchangeable.
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(oldUser), 0u);
  EXPECT_EQ(SteamAPI_ISteamUser_GetSteamID(reinterpret_cast<ISteamUser*>(SteamUtils())), 0u);
  EXPECT_EQ(SteamAPI_ISteamUtils_GetAppID(nullptr), 0u);
}

// Valve's accessor cache: {filler, generation, context}; ContextInit refills it whenever a
// session started or ended since.
void* utilsCache[3] = {nullptr, nullptr, nullptr};
void FillUtils(void* context) { *static_cast<ISteamUtils**>(context) = SteamUtils(); }
int fillCount = 0;
void CountingFillUtils(void* context) {
  ++fillCount;
  FillUtils(context);
}

TEST(SteamSession, ContextInitRefillsAcrossSessions) {
  CleanSteamEnvironment clean;
  utilsCache[0] = reinterpret_cast<void*>(&CountingFillUtils);
  auto cached = [] { return *static_cast<ISteamUtils**>(SteamInternal_ContextInit(utilsCache)); };

  EXPECT_EQ(cached(), nullptr);
  ASSERT_TRUE(SteamAPI_Init());
  ISteamUtils* utils = cached();
  EXPECT_NE(utils, nullptr);
  EXPECT_EQ(utils, SteamUtils());
  const int fillsAfterInit = fillCount;
  EXPECT_EQ(cached(), utils);
  EXPECT_EQ(fillCount, fillsAfterInit);  // cached while the session lasts

  SteamAPI_Shutdown();
  EXPECT_EQ(cached(), nullptr);
  ASSERT_TRUE(SteamAPI_Init());
  EXPECT_EQ(cached(), SteamUtils());
  EXPECT_EQ(SteamInternal_ContextInit(nullptr), nullptr);
}

}  // namespace
