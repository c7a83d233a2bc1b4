// Analytics: builds one JSON event document per event and posts it; the reply is ignored.
//
// Threads: PostEvent runs on whichever thread calls it (the game's threads for the export and
// for start-up, an HTTP worker for the login event). Init runs once per start-up under the
// core's init lock; UpdateUserId and UpdateGameUserInfo run on the threads of the login reply
// and of the game's setters. Nothing here calls back into the game.
//
// Locking:
//   mutex_         guards every field below it. Held only for copying fields in or out: never
//                  across a file access, a log write of the storage layer, the post or a call
//                  into the core.
//   refreshMutex_  serialises the two refresh operations, so that two setters racing on
//                  different threads cannot leave the older player state behind in the
//                  tracker. Taken before the core's state lock (through GetPlayerState /
//                  GetUserId), never while mutex_ is held; the core must therefore never call a
//                  refresh while it holds its own state lock.
// The per-game event counter advances through ZarnConfigUtils::UpdateConfigJson, which
// serialises read-change-write under the storage lock, so every event gets its own sequence
// number even when several threads post at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace ZarnSdk {

class CZarnTrack {
 public:
  // The process-wide tracker; created on first use and never destroyed.
  static CZarnTrack& Instance();

  // Loads the event rules, copies the identity texts from the core's GlobalParams and the
  // player state, and takes the environment texts (logging the time zone and "OS Version："
  // lines). Called by start-up after GlobalParams is filled and Steam has started; may run
  // again on a repeated start-up.
  void Init();
  // Parses the core's user id text (always decimal: "-1" or the server's id) into the 64-bit
  // userId, with the usual leading blanks and sign. A text that holds no decimal number, or one
  // outside the 64-bit range, sets userId to -1 ("nobody logged in") and logs one error line;
  // it never throws.
  void UpdateUserId();
  // Copies serverId and gameUserId ("_unknown" when empty) and level from the core.
  void UpdateGameUserInfo();
  // Advances the per-game counter ("EventOrder") by one and returns "n<new value>". When the
  // file cannot be written the counter cannot advance and the same text comes back each time.
  std::string GetEventOrder();
  // Builds the event document on the calling thread, advances the counter and hands the
  // document to the HTTP workers; returns without waiting for the reply. Checks on the name
  // and parameters only log. `params` is empty or a JSON object: anything else (invalid JSON,
  // an array, a number, a string, or nesting deeper than kMaxParamsDepth) is logged as
  // "Post Event Param Error, Not Valid JSON:" and the event goes out with the SDK's context
  // only. An event posted before Init (the export does not check that the SDK started) is
  // dropped with the one error line "Post Event Before Init:<name>": without Init there is no
  // Steam application id, so no per-game file to count in. Never throws.
  void PostEvent(const std::string& name, const std::string& params, double value);
  // Posts "qzk_login" with the parameters {"loginPlatform":..,"puserId":..}.
  void PostLoginEvent(std::string loginPlatform, std::string puserId);
  static std::string ValueOrUnknown(const std::string& text);

  // Fills the six standard event names and the required parameters of three of them; running
  // it again leaves the same content.
  void InitEventRules();
  // Standard names and names longer than the prefix that start with "qzk_self_" unchanged;
  // everything else gets "qzk_self_" put before it.
  std::string GetEventName(const std::string& name);
  // Whether the whole subject matches the ECMAScript pattern. The name pattern of events and
  // parameters is answered by an equivalent scan (no regex construction, and no recursion that
  // a long name could push off the stack); any other pattern is compiled for the call, and one
  // that does not compile matches nothing.
  static bool RegexMatch(const std::string& pattern, const std::string& subject);
  // Logs the required-parameter checks of the standard events that have rules; only logs.
  void CheckEventAndParams(const std::string& name, std::string params);

  // Read by order creation.
  std::string DeviceId();
  std::string Resolution();

  // The name pattern of events and parameter names.
  static constexpr const char* kNamePattern = "^[a-zA-Z0-9_]+$";
  // Deeper parameter documents are refused: the JSON library recurses per level when it
  // serialises, and a game's text must not be able to exhaust the calling thread's stack.
  static constexpr int kMaxParamsDepth = 64;

 private:
  CZarnTrack() = default;
  ~CZarnTrack() = delete;

  // The identity and environment every event carries.
  struct EventIdentity {
    bool initialised = false;
    std::string deviceId;
    std::string appId;
    std::string platform;
    std::string gamePlatform;
    std::string fingerId;
    int64_t userId = -1;
    std::string serverId;
    std::string gameUserId;
    std::string sdkVersion;
    std::string sdkType;
    int32_t level = 0;
    std::string tz;
    std::string os;
    std::string resolution;
  };
  // What one event needs of the tracker's fields, copied under one lock.
  struct Snapshot;
  Snapshot TakeSnapshot(const std::string& name);
  std::string EventNameLocked(const std::string& name) const;
  nlohmann::json RulesForLocked(const std::string& name) const;
  static void CheckParamsAgainstRules(const std::string& name, const std::string& params,
                                      const nlohmann::json& rules);

  std::mutex refreshMutex_;
  std::mutex mutex_;
  EventIdentity fields_;
  std::set<std::string> standardEvents_;
  nlohmann::json requiredParams_;
};

}  // namespace ZarnSdk
