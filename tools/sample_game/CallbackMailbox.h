// Hands the SDK's callbacks over to the sample's main thread.
//
// The SDK's ResultCallback is a plain function pointer without a context argument, so each kind
// of answer the sample waits for has its own slot and its own static trampoline
// (CallbackMailbox::CallbackFor). Trampolines run on whatever thread the SDK chooses (an HTTP
// worker, the ticket wait, or the caller itself for immediate refusals); they only copy the
// answer into the slot's queue under mutex_ and notify cv_. The main thread waits on cv_ with a
// deadline, so a missing answer turns into a reported failure instead of a hang.
//
// The mailbox is created on first use and never destroyed: a late callback arriving while the
// process shuts down still finds a live mutex.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ZarnProxy.h"

namespace sample {

enum class Slot : size_t {
  Init,
  Login,
  Products,
  Payment,
  Refusal,   // immediate answers the sample provokes on purpose (e.g. CallPay after Logout)
  ExitDone,  // posted by the helper thread that runs ZarnProxy::Exit
  Count
};

struct CallbackAnswer {
  int code = 0;
  std::wstring msg;
  std::wstring data;
  std::thread::id thread;
  std::chrono::steady_clock::time_point arrived;
};

class CallbackMailbox {
 public:
  static CallbackMailbox& Instance();

  // The plain function to hand to the SDK for answers that belong in `slot`.
  static ResultCallback CallbackFor(Slot slot);

  void Post(Slot slot, CallbackAnswer answer);

  // Takes the oldest answer of `slot`, waiting until `deadline` at most.
  std::optional<CallbackAnswer> WaitFor(Slot slot, std::chrono::steady_clock::time_point deadline);

  // Answers that arrived in `slot` and were not taken yet (e.g. a duplicate callback).
  size_t Pending(Slot slot);

 private:
  CallbackMailbox() = default;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::array<std::deque<CallbackAnswer>, static_cast<size_t>(Slot::Count)> queues_;  // guarded by mutex_
};

}  // namespace sample
