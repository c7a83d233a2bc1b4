// The Steam port over the Steamworks client library (steam_api64).
//
// Threads: any. `mutex_` guards every call into the library and the started/shut-down state,
// so no call overlaps the shutdown and none follows it. Steam delivers its callbacks inside
// SteamAPI_RunCallbacks, so the SteamEvents handlers run with `mutex_` held: they must not
// call back into the port (they only post requests and record answers).
#pragma once

#include "Sdk/SteamPort.h"
#include "platform/Mutex.h"
#include "steam/steam_api_subset.h"

namespace ZarnSdk {

class SteamApiPort final : public SteamPort {
 public:
  // Registers the two callback objects with the library (before Steam is started, as the
  // library expects); they are unregistered when the port goes.
  SteamApiPort();

  bool Start() override EXCLUDES(mutex_);
  std::optional<uint32_t> AppId() override EXCLUDES(mutex_);
  bool RunCallbacks(SteamEvents& events) override EXCLUDES(mutex_);
  std::optional<SteamTicket> RequestTicket(const std::function<void(uint32_t handle)>& issued) override
      EXCLUDES(mutex_);
  bool IsOverlayEnabled() override EXCLUDES(mutex_);
  void Shutdown() override EXCLUDES(mutex_);

 private:
  void OnAuthTicket(GetAuthSessionTicketResponse_t* response);
  void OnMicroTxn(MicroTxnAuthorizationResponse_t* response);
  bool RunningLocked() const REQUIRES(mutex_) { return started_ && !shutdown_; }

  zarnplatform::Mutex mutex_;
  bool started_ GUARDED_BY(mutex_) = false;
  bool shutdown_ GUARDED_BY(mutex_) = false;
  uint32_t appId_ GUARDED_BY(mutex_) = 0;
  SteamEvents* events_ GUARDED_BY(mutex_) = nullptr;  // set for the length of RunCallbacks

  CCallback<SteamApiPort, GetAuthSessionTicketResponse_t> authTicketCallback_;
  CCallback<SteamApiPort, MicroTxnAuthorizationResponse_t> microTxnCallback_;
};

}  // namespace ZarnSdk
