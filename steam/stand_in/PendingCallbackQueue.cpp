#include "PendingCallbackQueue.h"

void* PendingCallback::Data() {
  return std::visit([](auto& structure) -> void* { return &structure; }, payload);
}

std::optional<PendingCallback> PendingCallbackQueue::PopDue(Clock::time_point now, uint64_t sequenceLimit) {
  auto best = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->due > now || it->sequence >= sequenceLimit) continue;
    if (best == entries_.end() || it->due < best->due) best = it;
  }
  if (best == entries_.end()) return std::nullopt;
  PendingCallback callback = best->callback;
  entries_.erase(best);
  return callback;
}
