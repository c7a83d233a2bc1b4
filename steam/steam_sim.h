// Control API of the stand-in Steam client (libsteam_api64 built from steam/stand_in).
// Only tests and tools use it; a game never does. Values set here win over the environment
// variables the stand-in reads at SteamAPI_Init.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZARN_STEAM_STAND_IN_BUILDING)
#    define STEAMSIM_API __declspec(dllexport)
#  else
#    define STEAMSIM_API __declspec(dllimport)
#  endif
#else
#  define STEAMSIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

STEAMSIM_API void SteamSim_Reset(void);
STEAMSIM_API void SteamSim_SetClientRunning(bool running);
STEAMSIM_API void SteamSim_SetAppId(uint32_t appId);
STEAMSIM_API void SteamSim_SetSteamId(uint64_t steamId);
STEAMSIM_API void SteamSim_SetOverlayEnabled(bool enabled);
STEAMSIM_API void SteamSim_SetTicketResponse(int32_t result, int32_t delayMs);
STEAMSIM_API void SteamSim_PushMicroTxnAuthorization(uint32_t appId, uint64_t orderId, bool authorized);

#ifdef __cplusplus
}
#endif
