// The simulated Steam client behind every exported function of the stand-in: session state,
// settings, ticket handles and the queue of pending callbacks.
#pragma once

#include <cstdint>
#include <mutex>

#include "EnvironmentSettings.h"
#include "InterfaceHandles.h"
#include "PendingCallbackQueue.h"
#include "SimSettings.h"
#include "steam/steam_api_subset.h"

// Lifetime: one process-wide instance, created on first use and never destroyed, so that calls
// made while the process's static objects are being destroyed still find it.
//
// Threads: every operation may be called from any thread at any time. `mutex_` guards all
// members below it. It is held only for short bookkeeping: never while a callback object runs
// (RunCallbacks delivers on the calling thread with the lock released, so handlers may call any
// entry point) and never during the transaction folder's file I/O. `contextMutex_` serialises
// SteamInternal_ContextInit and is never taken while `mutex_` is held.
class SteamClientSim {
 public:
  static SteamClientSim& Instance();

  // Steamworks entry points (steam_api_subset.h). Before SteamAPI_Init and after
  // SteamAPI_Shutdown the interfaces are null, the flat methods answer 0 / false and
  // RunCallbacks delivers nothing. With ZARN_STEAMSIM_DIR set (read, like ZARN_STEAMSIM_PURCHASE,
  // at SteamAPI_Init), each RunCallbacks first takes the overlay's purchase requests for the
  // current app id and queues their answers, due at once.
  ESteamAPIInitResult Init(const char* interfaceVersions, SteamErrMsg* errorMessage);
  void Shutdown();
  void RunCallbacks();
  HSteamUser GetHSteamUser();
  void* FindOrCreateUserInterface(HSteamUser user, const char* version);
  void* ContextInit(void* contextInitData);
  uint64_t GetSteamID(const void* self);
  HAuthTicket GetAuthSessionTicket(const void* self, void* ticket, int maxTicketBytes, uint32_t* ticketBytes);
  uint32_t GetAppID(const void* self);
  bool IsOverlayEnabled(const void* self);

  // Control API (steam_sim.h). Values set here win over the environment from the moment they
  // are set (a running session sees them at once) until Reset. Reset forgets them and drops the
  // pending callbacks but keeps the session and the environment read at its start: a test can
  // reset without pulling Steam from under an SDK that is running. SetClientRunning(false) fails the
  // next SteamAPI_Init, and in a running session every ticket request and the overlay at once. SetTicketResponse applies to tickets requested afterwards.
  // PushMicroTxnAuthorization queues even while Steam is not started; the authorisation is
  // delivered by the first RunCallbacks of a session, unless a Shutdown or Reset drops it first.
  void Reset();
  void SetClientRunning(bool running);
  void SetAppId(uint32_t appId);
  void SetSteamId(uint64_t steamId);
  void SetOverlayEnabled(bool enabled);
  void SetTicketResponse(int32_t result, int32_t delayMs);
  void PushMicroTxnAuthorization(uint32_t appId, uint64_t orderId, bool authorized);

 private:
  static constexpr HSteamUser kSessionUser = 1;

  SteamClientSim() = default;
  SimSettings SettingsLocked() const { return SimSettings::Resolve(overrides_, environment_); }
  void TakeOverlayTransactions(PendingCallbackQueue::Clock::time_point now);

  std::recursive_mutex contextMutex_;

  std::mutex mutex_;
  bool initialised_ = false;
  // Changes at every start and end of a session, so ContextInit refills cached interfaces.
  uintptr_t contextGeneration_ = 0;
  ControlOverrides overrides_;
  EnvironmentSettings environment_;  // as read by the latest SteamAPI_Init
  InterfaceHandles interfaces_;
  HAuthTicket lastTicketHandle_ = 0;  // never reset: a handle is never handed out twice
  PendingCallbackQueue pending_;
};
