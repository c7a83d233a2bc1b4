// The exported Steamworks functions of the stand-in. Each forwards to the simulated client or
// the callback registry; none lets an exception out, since callers are C-linkage code that
// cannot handle one: a failure gives the function's "nothing" value and a line on stderr.
#include <cstdio>
#include <exception>

#include "CCallbackMgr.h"
#include "SteamClientSim.h"
#include "steam/steam_api_subset.h"

namespace {

template <class Result, class Body>
Result Guarded(const char* function, Result onFailure, Body body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "steam_api64 stand-in: %s failed: %s\n", function, e.what());
  } catch (...) {
    std::fprintf(stderr, "steam_api64 stand-in: %s failed\n", function);
  }
  return onFailure;
}

template <class Body>
void GuardedVoid(const char* function, Body body) noexcept {
  Guarded(function, 0, [&] {
    body();
    return 0;
  });
}

SteamClientSim& Sim() { return SteamClientSim::Instance(); }

}  // namespace

ZARN_STEAM_API ESteamAPIInitResult SteamInternal_SteamAPI_Init(const char* pszInternalCheckInterfaceVersions,
                                                               SteamErrMsg* pOutErrMsg) {
  return Guarded(__func__, k_ESteamAPIInitResult_FailedGeneric,
                 [&] { return Sim().Init(pszInternalCheckInterfaceVersions, pOutErrMsg); });
}

ZARN_STEAM_API void SteamAPI_Shutdown() {
  GuardedVoid(__func__, [] { Sim().Shutdown(); });
}

ZARN_STEAM_API void SteamAPI_RunCallbacks() {
  GuardedVoid(__func__, [] { Sim().RunCallbacks(); });
}

ZARN_STEAM_API void SteamAPI_RegisterCallback(CCallbackBase* pCallback, int iCallback) {
  GuardedVoid(__func__, [&] { CCallbackMgr::Instance().Register(pCallback, iCallback); });
}

ZARN_STEAM_API void SteamAPI_UnregisterCallback(CCallbackBase* pCallback) {
  GuardedVoid(__func__, [&] { CCallbackMgr::Instance().Unregister(pCallback); });
}

ZARN_STEAM_API HSteamUser SteamAPI_GetHSteamUser() {
  return Guarded(__func__, HSteamUser{0}, [] { return Sim().GetHSteamUser(); });
}

ZARN_STEAM_API void* SteamInternal_FindOrCreateUserInterface(HSteamUser hSteamUser, const char* pszVersion) {
  return Guarded(__func__, static_cast<void*>(nullptr),
                 [&] { return Sim().FindOrCreateUserInterface(hSteamUser, pszVersion); });
}

ZARN_STEAM_API void* SteamInternal_ContextInit(void* pContextInitData) {
  return Guarded(__func__, static_cast<void*>(nullptr), [&] { return Sim().ContextInit(pContextInitData); });
}

ZARN_STEAM_API uint64_t SteamAPI_ISteamUser_GetSteamID(ISteamUser* self) {
  return Guarded(__func__, uint64_t{0}, [&] { return Sim().GetSteamID(self); });
}

ZARN_STEAM_API HAuthTicket SteamAPI_ISteamUser_GetAuthSessionTicket(ISteamUser* self, void* pTicket, int cbMaxTicket,
                                                                    uint32_t* pcbTicket,
                                                                    const SteamNetworkingIdentity* /*identity*/) {
  return Guarded(__func__, HAuthTicket{0},
                 [&] { return Sim().GetAuthSessionTicket(self, pTicket, cbMaxTicket, pcbTicket); });
}

ZARN_STEAM_API uint32_t SteamAPI_ISteamUtils_GetAppID(ISteamUtils* self) {
  return Guarded(__func__, uint32_t{0}, [&] { return Sim().GetAppID(self); });
}

ZARN_STEAM_API bool SteamAPI_ISteamUtils_IsOverlayEnabled(ISteamUtils* self) {
  return Guarded(__func__, false, [&] { return Sim().IsOverlayEnabled(self); });
}
