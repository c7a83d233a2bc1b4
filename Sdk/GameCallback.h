// The game's callback as the SDK keeps and calls it: the C++ interface's function pointer, or
// the C interface's function with the caller's user pointer. Copyable and cheap, so every
// deferred step owns its copy. Calling an empty one does nothing: a null callback is never
// called.
#pragma once

#include <cstdint>
#include <string>

#include "ZarnProxy.h"
#include "proxy/StringConvert.h"
#include "zarnsdk.h"

namespace ZarnSdk {

class GameCallback {
 public:
  GameCallback() = default;
  // NOLINTNEXTLINE(google-explicit-constructor): the exports hand their pointer straight on.
  GameCallback(ResultCallback function) : cpp_(function) {}
  GameCallback(zarn_callback function, void* user) : c_(function), user_(user) {}

  explicit operator bool() const { return cpp_ != nullptr || c_ != nullptr; }
  bool operator==(const GameCallback& other) const = default;

  // Runs the game's code on the calling thread. The caller holds no lock of the SDK's.
  void operator()(int32_t code, const std::wstring& msg, const std::wstring& data) const {
    if (cpp_ != nullptr) {
      cpp_(code, msg, data);
    } else if (c_ != nullptr) {
      // Texts that live for the length of the call, as the C interface promises.
      const std::string msgText = WideToUtf8(msg);
      const std::string dataText = WideToUtf8(data);
      c_(code, msgText.c_str(), dataText.c_str(), user_);
    }
  }

 private:
  ResultCallback cpp_ = nullptr;
  zarn_callback c_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace ZarnSdk
