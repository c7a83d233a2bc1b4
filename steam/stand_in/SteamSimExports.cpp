// The exported control API of the stand-in (steam/steam_sim.h), for tests and tools.
#include <cstdio>
#include <exception>

#include "SteamClientSim.h"
#include "steam/steam_sim.h"

namespace {

// Callers are C-linkage code: nothing may unwind out of these functions.
template <class Body>
void Guarded(const char* function, Body body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "steam_api64 stand-in: %s failed: %s\n", function, e.what());
  } catch (...) {
    std::fprintf(stderr, "steam_api64 stand-in: %s failed\n", function);
  }
}

SteamClientSim& Sim() { return SteamClientSim::Instance(); }

}  // namespace

extern "C" {

STEAMSIM_API void SteamSim_Reset(void) {
  Guarded(__func__, [] { Sim().Reset(); });
}

STEAMSIM_API void SteamSim_SetClientRunning(bool running) {
  Guarded(__func__, [&] { Sim().SetClientRunning(running); });
}

STEAMSIM_API void SteamSim_SetAppId(uint32_t appId) {
  Guarded(__func__, [&] { Sim().SetAppId(appId); });
}

STEAMSIM_API void SteamSim_SetSteamId(uint64_t steamId) {
  Guarded(__func__, [&] { Sim().SetSteamId(steamId); });
}

STEAMSIM_API void SteamSim_SetOverlayEnabled(bool enabled) {
  Guarded(__func__, [&] { Sim().SetOverlayEnabled(enabled); });
}

STEAMSIM_API void SteamSim_SetTicketResponse(int32_t result, int32_t delayMs) {
  Guarded(__func__, [&] { Sim().SetTicketResponse(result, delayMs); });
}

STEAMSIM_API void SteamSim_PushMicroTxnAuthorization(uint32_t appId, uint64_t orderId, bool authorized) {
  Guarded(__func__, [&] { Sim().PushMicroTxnAuthorization(appId, orderId, authorized); });
}

}  // extern "C"
