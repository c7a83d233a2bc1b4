// The game's callback as the SDK keeps and calls it. Copyable and cheap, so every deferred step
// owns its copy. Calling an empty one does nothing: a null callback is never called.
#pragma once

#include <cstdint>
#include <string>

#include "ZarnProxy.h"

namespace ZarnSdk {

class GameCallback {
 public:
  GameCallback() = default;
  // NOLINTNEXTLINE(google-explicit-constructor): the exports hand their pointer straight on.
  GameCallback(ResultCallback function) : function_(function) {}

  explicit operator bool() const { return function_ != nullptr; }
  bool operator==(const GameCallback& other) const = default;

  // Runs the game's code on the calling thread. The caller holds no lock of the SDK's.
  void operator()(int32_t code, const std::wstring& msg, const std::wstring& data) const {
    if (function_ != nullptr) function_(code, msg, data);
  }

 private:
  ResultCallback function_ = nullptr;
};

}  // namespace ZarnSdk
