// Payment: the product catalogue, order creation and the payment result notification.
//
// Every CallPay that creates an order hears back exactly once: a failed creation, or the
// payment result after Steam reported the player's decision. An order remembers its buyer as
// the game described them at CallPay, so a Logout or another login meanwhile cannot credit
// the purchase to someone else.
//
// Threads: the game's threads (queries, CallPay), HTTP workers (every reply handler) and the
// Steam callback pump (PayResult, entered while the Steam port holds its lock, so PayResult
// only looks the order up and posts a request: it never calls the game and never blocks).
//
// Locking: mutex_ guards the orders and the early reports; it is held only for short table
// operations, never while a game callback, a catalogue call or a post runs. The catalogue has
// its own lock; the two are never held together.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>

#include "Sdk/RetryPolicy.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/GameCallback.h"
#include "Sdk/HttpResp.h"
#include "Sdk/ProductCatalogue.h"
#include "Sdk/SessionState.h"
#include "Sdk/ZarnApi.h"
#include "platform/Mutex.h"

namespace ZarnSdk {

// An order as the server created it (empty until it did), with what the purchase keeps beside it.
struct OrderInfo : OrderReply {
  ProductInfo product;
  GameCallback callback;
  std::string extInfo;
  PlayerState buyer;  // the player when CallPay was made
};

class CZarnPay {
 public:
  // What the payment's waits are measured by: the kept reports' age and the resends' start.
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `firstRetryDelay`: the cap of the wait before the payment result is sent again; it doubles
  // with each further attempt.
  CZarnPay(ZarnApi& api, const SessionState& session, const CZarnTrack& track,
           std::chrono::milliseconds firstRetryDelay = kFirstRetryDelay, Clock clock = std::chrono::steady_clock::now)
      : api_(api), session_(session), track_(track), catalogue_(api), firstRetryDelay_(firstRetryDelay),
        clock_(std::move(clock)) {}

  ProductCatalogue& Catalogue() { return catalogue_; }

  // Behind the export and the start-up preload: the product list, or the failed reply, reaches
  // callback on the calling thread when loaded, else on an HTTP worker.
  void QueryProducts(const GameCallback& callback) { catalogue_.QueryProducts(callback); }

  // Called by the core's CallPay on the game's thread. callback hears a failure to create the
  // order, or later the payment result; never a successful creation.
  void CreateOrder(const std::string& productId, const std::string& extInfo, const GameCallback& callback);
  // Called on the Steam callback pump with Steam's application id, the authorisation flag ("1"
  // authorised) and the Steam order id as decimal text. Reports for another application are
  // ignored. A report that finds no order while a creation is pending is kept (for at most
  // kEarlyReportLifetime) and handled by the worker that stores its order, as Steam may be
  // quicker than the creation reply; with no creation pending it is dropped. A report for an
  // order whose result is being sent waits and goes to the server after it, unless it repeats
  // what is being sent (a waiting approval stays: the player paid); one for a settled order
  // tells the server again. Either way the game has heard the order's one result.
  void PayResult(uint32_t appId, const std::string& authorized, const std::string& steamOrderId) EXCLUDES(mutex_);

  static constexpr std::chrono::minutes kEarlyReportLifetime{5};
  // The payment result is sent this often at most when the server cannot be reached, fails
  // (5xx) or asks to slow down (429). Each wait is drawn with full jitter under a cap doubling
  // from the first retry's delay (up to 2, 4 and 8 s by default), or is the one the server asks
  // for (Retry-After) up to kLongestRetryAfter: the player waits for the purchase's result.
  static constexpr int kPayResultAttempts = 4;
  static constexpr std::chrono::milliseconds kFirstRetryDelay{2000};
  static constexpr std::chrono::seconds kLongestRetryAfter{60};

 private:
  enum class OrderStage {
    AwaitingSteam,  // created; Steam has not reported the player's decision
    Notifying,      // the payment result is on its way to the server
    Settled,        // the game has heard the result; the server did not confirm a payment
  };
  struct OrderEntry {
    OrderInfo order;
    OrderStage stage = OrderStage::AwaitingSteam;
    uint64_t serial = 0;  // tells an order from a later one under the same Steam order id
    std::string sending;  // while Notifying: the authorisation flag on its way
    std::optional<std::string> nextReport;  // while Notifying: the flag Steam reported since
  };
  struct KeptReport {
    std::string authorized;
    std::chrono::steady_clock::time_point arrived;
  };
  // One sending of a payment result; `toGame` when its outcome is the game's callback.
  struct PayResultSend {
    std::string steamOrderId;
    std::string authorized;
    OrderInfo order;
    uint64_t serial = 0;
    bool toGame = true;
    int attempt = 0;
    std::chrono::milliseconds wait{0};  // before this sending
  };

  void ContinueOrder(const std::string& productId, const std::string& extInfo, const PlayerState& buyer,
                     const GameCallback& callback) EXCLUDES(mutex_);
  void HandleCreateOrderReply(const Answer<OrderReply>& answer, OrderInfo draft) EXCLUDES(mutex_);
  // Stores a created order (if any) and ends one pending creation; hands back a Steam report
  // that arrived for that order before it was stored, and an older order of the same Steam
  // order id that was still waiting for Steam (it can never be told apart any more).
  struct Stored {
    std::optional<std::string> earlyReport;
    std::optional<OrderInfo> displaced;
  };
  Stored FinishOrderCreation(const std::optional<OrderInfo>& order) EXCLUDES(mutex_);
  void HandleSteamReport(const std::string& authorized, const std::string& steamOrderId) EXCLUDES(mutex_);
  void KeepEarlyReport(const std::string& steamOrderId, const std::string& authorized) REQUIRES(mutex_);
  void SendPayResult(PayResultSend send) EXCLUDES(mutex_);
  // `status`: the reply's "status", 0 when absent or unreadable (a 200 that does not read
  // arrives as -501).
  void HandlePayResultReply(const HttpResp& reply, int32_t status, PayResultSend send) EXCLUDES(mutex_);

  ZarnApi& api_;
  const SessionState& session_;
  const CZarnTrack& track_;
  ProductCatalogue catalogue_;
  const std::chrono::milliseconds firstRetryDelay_;
  const Clock clock_;

  zarnplatform::Mutex mutex_;
  std::unordered_map<std::string, OrderEntry> orders_ GUARDED_BY(mutex_);  // by Steam order id
  uint64_t nextSerial_ GUARDED_BY(mutex_) = 0;
  int ordersInFlight_ GUARDED_BY(mutex_) = 0;
  // The resend waits. The server's Retry-After is kept exactly: the player waits for the result.
  RetryPolicy retry_ GUARDED_BY(mutex_){
      {firstRetryDelay_, firstRetryDelay_ * (1 << kPayResultAttempts), kLongestRetryAfter, false}};
  // Steam reports that found no order while a creation was pending, by Steam order id.
  std::unordered_map<std::string, KeptReport> earlyReports_ GUARDED_BY(mutex_);
};

}  // namespace ZarnSdk
