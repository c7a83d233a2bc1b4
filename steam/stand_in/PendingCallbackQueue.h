// Callbacks waiting for their delivery time, in the order they were queued.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "steam/steam_api_subset.h"

// One queued callback: its id and a copy of its structure.
struct PendingCallback {
  int callbackId = 0;
  std::variant<GetAuthSessionTicketResponse_t, MicroTxnAuthorizationResponse_t> payload;

  // The structure, as the void* that CCallbackBase::Run expects.
  void* Data();
};

// Not thread-safe: the owner (SteamClientSim) guards it with its mutex.
class PendingCallbackQueue {
 public:
  using Clock = std::chrono::steady_clock;

  template <class T>
  void Push(Clock::time_point due, const T& payload) {
    entries_.push_back({due, nextSequence_++, PendingCallback{T::k_iCallback, payload}});
  }

  // Sequence number the next Push will get; a RunCallbacks pass delivers only entries below
  // the value it read at its start, so a handler that queues more cannot keep it going forever.
  uint64_t NextSequence() const { return nextSequence_; }

  // Removes and returns the entry that is due at `now` with the earliest due time (queue order
  // among equal times), considering only sequence numbers below `sequenceLimit`.
  std::optional<PendingCallback> PopDue(Clock::time_point now, uint64_t sequenceLimit);

  void Clear() { entries_.clear(); }
  bool Empty() const { return entries_.empty(); }

 private:
  struct Entry {
    Clock::time_point due;
    uint64_t sequence;
    PendingCallback callback;
  };
  std::vector<Entry> entries_;
  uint64_t nextSequence_ = 0;
};
