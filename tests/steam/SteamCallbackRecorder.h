// Test-side receiver of the stand-in's callbacks, built on the CCallback<> template the SDK uses.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "steam/steam_api_subset.h"

namespace steamtest {

// Set while the calling thread is inside RunCallbacksHere(), so handlers can record whether they
// were called from within SteamAPI_RunCallbacks.
inline thread_local bool insideRunCallbacks = false;

inline void RunCallbacksHere() {
  insideRunCallbacks = true;
  SteamAPI_RunCallbacks();
  insideRunCallbacks = false;
}

struct Delivery {
  std::thread::id thread;
  bool insideRunCallbacks = false;
};

struct TicketAnswer : Delivery {
  HAuthTicket handle = 0;
  int32_t result = 0;
};

struct PurchaseAnswer : Delivery {
  uint32_t appId = 0;
  uint64_t orderId = 0;
  int authorized = -1;
};

// Registers for both callbacks on construction and unregisters on destruction. Handlers may run
// on any thread; the recorded lists are guarded by `mutex_`.
class CallbackRecorder {
 public:
  CallbackRecorder() = default;
  CallbackRecorder(const CallbackRecorder&) = delete;
  CallbackRecorder& operator=(const CallbackRecorder&) = delete;

  std::vector<TicketAnswer> Tickets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tickets_;
  }
  std::vector<PurchaseAnswer> Purchases() {
    std::lock_guard<std::mutex> lock(mutex_);
    return purchases_;
  }

 private:
  void OnTicket(GetAuthSessionTicketResponse_t* p) {
    TicketAnswer a;
    a.thread = std::this_thread::get_id();
    a.insideRunCallbacks = insideRunCallbacks;
    a.handle = p->m_hAuthTicket;
    a.result = p->m_eResult;
    std::lock_guard<std::mutex> lock(mutex_);
    tickets_.push_back(a);
  }
  void OnPurchase(MicroTxnAuthorizationResponse_t* p) {
    PurchaseAnswer a;
    a.thread = std::this_thread::get_id();
    a.insideRunCallbacks = insideRunCallbacks;
    a.appId = p->m_unAppID;
    a.orderId = p->m_ulOrderID;
    a.authorized = p->m_bAuthorized;
    std::lock_guard<std::mutex> lock(mutex_);
    purchases_.push_back(a);
  }

  std::mutex mutex_;
  std::vector<TicketAnswer> tickets_;
  std::vector<PurchaseAnswer> purchases_;
  // Last, so that they register once the lists exist and unregister before they go.
  CCallback<CallbackRecorder, GetAuthSessionTicketResponse_t> ticketCallback_{this, &CallbackRecorder::OnTicket};
  CCallback<CallbackRecorder, MicroTxnAuthorizationResponse_t> purchaseCallback_{this,
                                                                                 &CallbackRecorder::OnPurchase};
};

}  // namespace steamtest
