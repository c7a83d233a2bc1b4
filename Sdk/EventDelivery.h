// Delivery of analytics events: their sequence numbers, sending, retries and the outbox.
//
// The game's thread only takes a number from memory and queues the event's document; one
// delivery thread does everything that waits. The rule for numbers: an event leaves the process
// only with a number that is durably reserved in the game's state file ("EventOrder" = the
// last number reserved), so a number is never handed out twice, even across a crash; a clean
// Stop writes the exact last number instead. While the counter cannot be read (the file exists
// but another program holds it, or nothing can be stored at all), events get provisional
// numbers and wait; once it can, they are numbered after it in the order they came. While the
// reservation cannot be written, numbered events wait too. The delivery thread tries both again
// after `stateRetry`, doubling up to `longestRetry`. Waiting events are kept in memory only: an outbox written with them would
// let a later run send numbers it hands out again. Every event not yet answered by the server
// that carries a reserved number (queued, in flight, or failed with no reply, a 5xx or a 429) is kept
// in a per-game outbox file, rewritten at most once a flush interval and at Stop; the next
// start sends its events before new ones. What may be sent when is DeliveryGate's: a failure
// pauses every event, not the one that failed, and the oldest goes first as the probe. Delivery
// is at least once: an event in flight at Stop
// or a crash may arrive twice, with the same number.
//
// Threads: NextNumber and Enqueue on any thread (never blocking on disk or network); Start and
// Stop on the thread that starts or ends the SDK; completions on HTTP workers; the delivery
// thread. `mutex_` guards everything below it and is a leaf: no file, post or log under it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Sdk/DeliveryGate.h"
#include "Sdk/HttpResp.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "platform/Mutex.h"
#include "platform/ThreadGroup.h"
#include "platform/ThreadLauncher.h"

namespace ZarnSdk {

struct EventDeliveryTimings {
  std::chrono::milliseconds flushInterval{1000};  // how stale the outbox file may get
  std::chrono::milliseconds stateRetry{2000};     // reading the counter, writing a reservation: doubling
  std::chrono::milliseconds longestStateRetry{5 * 60 * 1000};
  DeliveryPacing pacing;                          // sending, and waiting for a failing server
};

class EventDelivery {
 public:
  static constexpr int64_t kReservedBlock = 1000;
  static constexpr std::size_t kMaxKeptEvents = 10000;
  static constexpr std::size_t kMaxKeptBytes = 4u << 20;

  EventDelivery(ZarnConfigUtils& store, ZarnApi& api, sion::ThreadLauncher launcher, EventDeliveryTimings timings)
      : store_(store), api_(api), timings_(timings), gate_(timings.pacing, std::chrono::steady_clock::now()),
        thread_(std::move(launcher)) {}
  ~EventDelivery();
  EventDelivery(const EventDelivery&) = delete;
  EventDelivery& operator=(const EventDelivery&) = delete;

  // Once the game's Steam application id is known: reads the counter and the outbox (its
  // events go first) and starts the delivery thread. True when running (also when it was);
  // false when the thread cannot be started (a later call tries again) or after Stop.
  bool Start() EXCLUDES(mutex_);
  // The next sequence number; nullopt before Start or after Stop. A negative number is
  // provisional (the counter is not known yet): the delivery replaces it before the event leaves.
  std::optional<int64_t> NextNumber() EXCLUDES(mutex_);
  // Queues an event's document (as it will be sent) carrying `number`. A provisional number
  // must appear in the document as its last member named "eventOrder", as "n<number>" (the
  // SDK's compact documents, members in ascending order, end with it: no member after it is an
  // object). Beyond the outbox's bounds the oldest kept events are dropped (counted, logged by
  // the delivery thread).
  void Enqueue(int64_t number, std::string document) EXCLUDES(mutex_);
  // Ends the delivery thread and writes the exact last number and the outbox (every event not
  // answered whose number is reserved; the others are lost, logged). Call after the HTTP
  // workers have stopped, so no completion runs any more. On the delivery thread itself (the
  // game's log handler calling Exit there) it returns at once and the thread writes them as it
  // ends.
  void Stop() EXCLUDES(mutex_);

 private:
  enum class State { Queued, InFlight };
  struct Event {
    uint64_t serial = 0;  // order of arrival, kept across restarts by the outbox's order
    int64_t number = 0;   // 0 for an event read back from the outbox (already covered); < 0 provisional
    std::shared_ptr<const std::string> document;  // shared: the outbox copies the list under the lock
    State state = State::Queued;
  };
  using Clock = std::chrono::steady_clock;

  void Run() EXCLUDES(mutex_);
  // One pass of the delivery thread; returns when it wants to run again.
  Clock::time_point Pass() EXCLUDES(mutex_);
  // Reads the counter when it is not known yet, and reserves numbers ahead of need, each when due.
  void KeepCounter(Clock::time_point now) EXCLUDES(mutex_);
  // The counter became known: provisional numbers follow it.
  void LearnCounter(int64_t last) REQUIRES(mutex_);
  void DelayStateAttempt() REQUIRES(mutex_);
  void Renumber() REQUIRES(mutex_);
  // Whether the event may leave the process (and be written to the outbox).
  bool Covered(const Event& event) const REQUIRES(mutex_);
  void Send(uint64_t serial, const std::string& document) EXCLUDES(mutex_);
  void HandleReply(uint64_t serial, const HttpResp& reply) EXCLUDES(mutex_);
  std::deque<Event>::iterator Find(uint64_t serial) REQUIRES(mutex_);
  // The documents the outbox file may hold: those of covered events.
  std::vector<std::shared_ptr<const std::string>> Documents() const REQUIRES(mutex_);
  void WriteOutbox(const std::vector<std::shared_ptr<const std::string>>& documents);
  std::vector<std::string> ReadOutbox(bool& unreadable);
  bool WriteEventOrder(int64_t value) EXCLUDES(mutex_);
  void WriteAtStop() EXCLUDES(mutex_);

  ZarnConfigUtils& store_;
  ZarnApi& api_;
  const EventDeliveryTimings timings_;

  zarnplatform::Mutex mutex_;
  zarnplatform::CondVar changed_;  // an event queued or answered, stop requested
  bool started_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool counterKnown_ GUARDED_BY(mutex_) = false;  // the state file's counter was read
  int64_t provisional_ GUARDED_BY(mutex_) = 0;    // provisional numbers handed out (-1, -2, ...)
  int64_t base_ GUARDED_BY(mutex_) = 0;           // the counter as read: provisional -k is base_ + k
  bool renumberDue_ GUARDED_BY(mutex_) = false;   // provisional events queued while the counter is known
  bool writeAtThreadEnd_ GUARDED_BY(mutex_) = false;  // Stop was first called on the thread
  int64_t lastNumber_ GUARDED_BY(mutex_) = 0;  // the last number handed out
  int64_t reserved_ GUARDED_BY(mutex_) = 0;    // numbers up to this are in the state file
  Clock::time_point nextStateAttempt_ GUARDED_BY(mutex_);  // of the counter's read or a reservation
  int stateFailures_ GUARDED_BY(mutex_) = 0;  // in a row, for the pause before the next attempt
  bool stateFailureLogged_ GUARDED_BY(mutex_) = false;
  bool outboxKept_ GUARDED_BY(mutex_) = true;  // false: the outbox file could not be read, so it stays
  bool wake_ GUARDED_BY(mutex_) = false;  // something for the delivery thread to do
  std::deque<Event> events_ GUARDED_BY(mutex_);    // every event not answered, oldest first
  std::size_t keptBytes_ GUARDED_BY(mutex_) = 0;
  uint64_t nextSerial_ GUARDED_BY(mutex_) = 0;
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;  // by the bounds, not yet logged
  int inFlight_ GUARDED_BY(mutex_) = 0;
  bool outboxDirty_ GUARDED_BY(mutex_) = false;
  Clock::time_point lastFlush_ GUARDED_BY(mutex_);
  DeliveryGate gate_ GUARDED_BY(mutex_);
  zarnplatform::ThreadGroup thread_;  // the delivery thread; started under `mutex_`
};

}  // namespace ZarnSdk
