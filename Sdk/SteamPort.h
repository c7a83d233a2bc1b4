// The SDK's port to the Steam client: the handful of Steamworks operations it uses, and the two
// callbacks it receives. SteamApiPort is the real one; anything else with these semantics can
// stand in.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ZarnSdk {

// Steam's result code for success (EResult k_EResultOK).
inline constexpr int32_t kSteamResultOk = 1;

// Receives Steam's callbacks; called only from inside SteamPort::RunCallbacks, on its thread.
class SteamEvents {
 public:
  virtual ~SteamEvents() = default;
  virtual void OnAuthSessionTicketResponse(uint32_t ticketHandle, int32_t result) = 0;
  virtual void OnMicroTxnAuthorizationResponse(uint32_t appId, uint64_t orderId, bool authorized) = 0;
};

// The handle of a ticket Steam could not issue (k_HAuthTicketInvalid).
inline constexpr uint32_t kInvalidTicketHandle = 0;

struct SteamTicket {
  uint64_t steamId = 0;
  uint32_t handle = 0;
  std::string bytes;  // the ticket as Steam wrote it
};

// Every operation may be called from any thread; implementations serialise them. After
// Shutdown no operation reaches Steam again and Start refuses.
class SteamPort {
 public:
  virtual ~SteamPort() = default;

  // Starts Steam for this game; true when it runs (also when it was started before).
  virtual bool Start() = 0;
  // The running game's Steam application id; nullopt before a successful Start.
  virtual std::optional<uint32_t> AppId() = 0;
  // Delivers Steam's pending callbacks to `events` on the calling thread; false once shut
  // down or never started.
  virtual bool RunCallbacks(SteamEvents& events) = 0;
  // An authentication session ticket; its answer comes later as OnAuthSessionTicketResponse.
  // `issued` is called with the ticket's handle before any answer for it can be delivered (the
  // caller records that it waits for that handle). nullopt when Steam is not running (never
  // started, or shut down).
  virtual std::optional<SteamTicket> RequestTicket(const std::function<void(uint32_t handle)>& issued) = 0;
  virtual bool IsOverlayEnabled() = 0;
  // Releases Steam for good. Waits for a RunCallbacks in progress.
  virtual void Shutdown() = 0;
};

}  // namespace ZarnSdk
