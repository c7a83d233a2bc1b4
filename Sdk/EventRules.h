// The rules of event names and of the standard events' required parameters. Constant: nothing
// here keeps state, so any thread may call in.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace ZarnSdk {

class EventRules {
 public:
  // Deeper parameter documents are refused: serialising recurses per level, and a game's text
  // must not be able to exhaust the calling thread's stack.
  static constexpr int kMaxParamsDepth = 64;

  // Standard names, and names longer than the prefix that start with "qzk_self_", unchanged;
  // every other name gets "qzk_self_" put before it.
  static std::string GetEventName(const std::string& name);
  // Whether the whole text matches ^[a-zA-Z0-9_]+$ (the rule for event and parameter names).
  static bool IsValidName(const std::string& name);
  // The parameter text as JSON; discarded when it is not JSON or nests too deep.
  static nlohmann::json ParseParams(const std::string& params);
  // Logs the required-parameter checks of the standard events that have rules; only logs.
  static void CheckEventAndParams(const std::string& name, const std::string& params);
};

}  // namespace ZarnSdk
