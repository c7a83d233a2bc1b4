// The Steam side of the core: starts Steam and pumps its callbacks on a thread of its own,
// waits for each login's ticket answer on a thread of its own, and hands purchase
// authorisations to the payment object.
//
// Threads: the game's threads (Start, LoginSteam, IsPayAvailable, Exit), the pump (the two
// Steam handlers, inside the port's lock), one ticket-wait thread per login. `mutex_` guards
// the awaited tickets and the pump's state; it is a leaf lock, taken inside the port's. Every thread this object starts has ended when Exit (or the
// destructor) returns.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/GameCallback.h"
#include "Sdk/SteamPort.h"
#include "platform/Mutex.h"
#include "platform/ThreadGroup.h"
#include "platform/ThreadLauncher.h"

namespace ZarnSdk {

struct SteamTimings {
  std::chrono::milliseconds pumpPeriod{200};
  std::chrono::milliseconds ticketPollPeriod{100};
  int ticketMaxPolls = 100;
};

class SteamSession final : private SteamEvents {
 public:
  SteamSession(SteamPort& port, CZarnPay& pay, CZarnUser& user, SteamTimings timings,
               sion::ThreadLauncher launcher = sion::DefaultThreadLauncher())
      : port_(port), pay_(pay), user_(user), timings_(timings), threads_(std::move(launcher)) {}
  ~SteamSession() override;
  SteamSession(const SteamSession&) = delete;
  SteamSession& operator=(const SteamSession&) = delete;

  // Starts Steam and, the first time, the callback pump. False when Steam does not run, its
  // application id is 0 (no game could be told apart by it), the pump's thread cannot be
  // started (a later call tries again), or after Exit.
  bool InitSteam() EXCLUDES(mutex_);
  // The running game's Steam application id, once Steam started.
  std::optional<uint32_t> AppId() { return port_.AppId(); }
  // Requests a ticket and waits for Steam's answer on a new thread: -400 after Exit, -403 when
  // Steam never answers (or no thread could wait for it), -404 when it refuses, else the
  // server login (which reports).
  // `generation`: the session's login generation when the game asked (see CZarnUser::Login).
  void LoginSteam(uint64_t generation, const GameCallback& callback) EXCLUDES(mutex_);
  bool IsPayAvailable() { return !Exited() && port_.IsOverlayEnabled(); }
  bool Exited() const { return isExit_.load(); }
  // Sets the exit flag, shuts Steam down and waits for the pump and every ticket wait (each
  // reports -400 "Process Exit!" at its next poll).
  void Exit() EXCLUDES(mutex_);

 private:
  void TaskSteamCallback() EXCLUDES(mutex_);
  void TaskCheckSteamAuth(const std::string& steamId, uint32_t handle, const std::string& ticketHex,
                          uint64_t generation, const GameCallback& callback) EXCLUDES(mutex_);
  void OnAuthSessionTicketResponse(uint32_t ticketHandle, int32_t result) override EXCLUDES(mutex_);
  void OnMicroTxnAuthorizationResponse(uint32_t appId, uint64_t orderId, bool authorized) override;
  // The answer recorded for the handle, 0 while there is none; `last` stops waiting for it.
  int32_t TakeTicketResult(uint32_t handle, bool last) EXCLUDES(mutex_);

  SteamPort& port_;
  CZarnPay& pay_;
  CZarnUser& user_;
  const SteamTimings timings_;
  std::atomic<bool> isExit_{false};

  zarnplatform::Mutex mutex_;
  zarnplatform::CondVar changed_;  // exit requested
  // The tickets a login waits for, with Steam's answer (0 until it comes). Answers for any
  // other handle are not kept: nobody would ever take them.
  std::unordered_map<uint32_t, int32_t> awaitedTickets_ GUARDED_BY(mutex_);
  bool pumpStarted_ GUARDED_BY(mutex_) = false;
  // The pump and the ticket waits. A game callback run on them (or the game's log handler) may
  // call Exit, which then does not wait for its own thread. An exception out of one (a game
  // callback's) is written to standard error.
  zarnplatform::ThreadGroup threads_;
};

}  // namespace ZarnSdk
