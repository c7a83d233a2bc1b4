// The walk through the SDK that a game makes, one reported step at a time:
//   IsPayAvailable before Init, Init, the player identity setters, a custom event and two
//   standard events, Login, QueryProducts, IsPayAvailable, CallPay up to the payment result,
//   Logout (checked by a purchase that must be refused), Exit (after which no call may have
//   answered twice).
// Every wait has the per-step deadline of SampleOptions; a step whose prerequisite failed is
// skipped rather than left to time out. Runs on the main thread; callbacks come in through
// CallbackMailbox.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "CallbackMailbox.h"
#include "SampleOptions.h"
#include "StepReport.h"

namespace sample {

class SampleFlow {
 public:
  static constexpr int kStepCount = 12;

  SampleFlow(SampleOptions options, std::ostream& out);

  // Runs every step and prints the summary line; true when every step passed.
  bool Run();

  // True when ZarnProxy::Exit had not returned by its deadline: a thread is still inside the
  // SDK, so the process must end without running static destructors.
  bool ExitStillRunning() const { return exitStillRunning_; }

 private:
  void CheckPayUnavailableBeforeInit();
  bool InitSdk();
  void SetPlayerIdentity();
  void PostCustomEvent();
  void PostUserCreateEvent();
  void PostLevelAchievedEvent();
  bool LoginPlayer();
  bool QueryCatalogue();
  void CheckPayAvailable();
  void BuyProduct();
  void LogoutPlayer();
  void ExitSdk();

  // Waits for the next answer in `slot`; on time-out fails the current step, naming `what`.
  std::optional<CallbackAnswer> Await(Slot slot, const std::string& what);
  std::string TimeoutText() const;

  SampleOptions options_;
  std::ostream& out_;
  StepReport report_;
  std::thread::id mainThread_;
  std::string productId_;  // chosen by QueryCatalogue
  bool exitStillRunning_ = false;
};

}  // namespace sample
