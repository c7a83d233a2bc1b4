#include "CallbackMailbox.h"

#include <utility>

namespace sample {
namespace {

template <Slot S>
void Deliver(int code, std::wstring msg, std::wstring data) {
  CallbackAnswer answer;
  answer.code = code;
  answer.msg = std::move(msg);
  answer.data = std::move(data);
  answer.thread = std::this_thread::get_id();
  answer.arrived = std::chrono::steady_clock::now();
  CallbackMailbox::Instance().Post(S, std::move(answer));
}

}  // namespace

CallbackMailbox& CallbackMailbox::Instance() {
  static CallbackMailbox* const instance = new CallbackMailbox();
  return *instance;
}

ResultCallback CallbackMailbox::CallbackFor(Slot slot) {
  switch (slot) {
    case Slot::Init: return &Deliver<Slot::Init>;
    case Slot::Login: return &Deliver<Slot::Login>;
    case Slot::Products: return &Deliver<Slot::Products>;
    case Slot::Payment: return &Deliver<Slot::Payment>;
    case Slot::Refusal: return &Deliver<Slot::Refusal>;
    case Slot::ExitDone: return &Deliver<Slot::ExitDone>;
    case Slot::Count: break;
  }
  return nullptr;
}

void CallbackMailbox::Post(Slot slot, CallbackAnswer answer) {
  // Notified under the lock: SDK threads may still post while the program ends.
  std::lock_guard lock(mutex_);
  queues_[static_cast<size_t>(slot)].push_back(std::move(answer));
  cv_.notify_all();
}

std::optional<CallbackAnswer> CallbackMailbox::WaitFor(Slot slot, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  auto& queue = queues_[static_cast<size_t>(slot)];
  if (!cv_.wait_until(lock, deadline, [&] { return !queue.empty(); })) return std::nullopt;
  CallbackAnswer answer = std::move(queue.front());
  queue.pop_front();
  return answer;
}

size_t CallbackMailbox::Pending(Slot slot) {
  std::lock_guard lock(mutex_);
  return queues_[static_cast<size_t>(slot)].size();
}

}  // namespace sample
