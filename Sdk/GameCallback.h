// The game's callback as the SDK keeps and calls it, with UTF-8 texts: the C interface's
// function with the caller's user pointer, or any other function of the game's with a relay
// that knows how to call it (the C++ exports wrap the game's wide-string callback that way, so
// texts are converted once, at the export). Copyable and cheap, so every deferred step owns its
// copy. Calling an empty one does nothing: a null callback is never called.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Utf8.h"
#include "zarnsdk.h"

namespace ZarnSdk {

class GameCallback {
 public:
  // Any function pointer of the game's, kept as such and cast back by its relay.
  using AnyFunction = void (*)();
  // Calls `function` with the texts, which are valid for the call and hold their full length.
  // They are UTF-8 but may carry invalid bytes from the server or the transport: the relay hands
  // the game U+FFFD in their place.
  using Relay = void (*)(AnyFunction function, void* user, int32_t code, const std::string& msg,
                         const std::string& data);

  GameCallback() = default;
  // NOLINTNEXTLINE(google-explicit-constructor): the C exports hand their function straight on.
  GameCallback(zarn_callback function, void* user = nullptr)
      : relay_(function != nullptr ? &CallC : nullptr),
        function_(reinterpret_cast<AnyFunction>(function)),
        user_(user) {}
  // Null when `function` is null.
  GameCallback(Relay relay, AnyFunction function, void* user)
      : relay_(function != nullptr ? relay : nullptr), function_(function), user_(user) {}

  explicit operator bool() const { return relay_ != nullptr; }
  bool operator==(const GameCallback& other) const = default;

  // Runs the game's code on the calling thread. The caller holds no lock of the SDK's.
  void operator()(int32_t code, const std::string& msg, const std::string& data) const {
    if (relay_ != nullptr) relay_(function_, user_, code, msg, data);
  }

 private:
  static void CallC(AnyFunction function, void* user, int32_t code, const std::string& msg, const std::string& data) {
    const std::string msgText = zarnplatform::SanitizeUtf8(msg);
    const std::string dataText = zarnplatform::SanitizeUtf8(data);
    reinterpret_cast<zarn_callback>(function)(code, msgText.c_str(), dataText.c_str(), user);
  }

  Relay relay_ = nullptr;
  AnyFunction function_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace ZarnSdk
