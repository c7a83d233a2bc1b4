// Analytics: builds one JSON event document per event on the caller's thread and hands it to
// the event delivery, which numbers, sends, retries and keeps it (EventDelivery.h).
//
// Threads: PostEvent runs on whichever thread calls it (the game's threads, an HTTP worker for
// the login event). Init runs on the thread that starts the SDK; the refreshes on the threads
// of the login reply and of the game's setters. Nothing here calls the game.
//
// Locking: refreshMutex_ serialises the two refreshes, so two setters racing cannot leave the
// older player state behind; it is taken before the session's lock. mutex_ guards the copied
// fields and is a leaf: never held across the session, the store, the log or a post.
#pragma once

#include <cstdint>
#include <string>

#include "Sdk/EventDelivery.h"
#include "Sdk/SessionState.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "platform/Mutex.h"

namespace ZarnSdk {

class CZarnTrack {
 public:
  CZarnTrack(const SessionState& session, EventDelivery& delivery) : session_(session), delivery_(delivery) {}

  // Copies the identity texts from the global parameters and the player state, and takes the
  // environment texts (logging the time zone and "OS Version：" lines). Called by start-up after
  // the global parameters are filled; may run again on a repeated start-up.
  void Init() EXCLUDES(mutex_, refreshMutex_);
  // Parses the session's user id text into the 64-bit userId; a text that holds no decimal
  // number sets -1 and logs one error line.
  void UpdateUserId() EXCLUDES(mutex_, refreshMutex_);
  // Copies serverId and gameUserId ("_unknown" when empty) and level from the session.
  void UpdateGameUserInfo() EXCLUDES(mutex_, refreshMutex_);
  // Advances the per-game counter ("EventOrder") by one and returns "n<new value>"; empty
  // before start-up and after Exit. Takes the number from memory: no disk wait.
  std::string GetEventOrder();
  // Builds the event document on the calling thread, advances the counter and queues it for
  // delivery; returns without waiting for the disk or the network. Checks on the name and
  // parameters only log. After Exit the event is dropped. `params` is empty or
  // a JSON object; anything else is logged as "Post Event Param Error, Not Valid JSON:" and the
  // event goes out with the SDK's context only. Before Init the event is dropped with the line
  // "Post Event Before Init:<name>" (no Steam application id, so no counter). Never throws.
  void PostEvent(const std::string& name, const std::string& params, double value) EXCLUDES(mutex_);
  // Posts "qzk_login" with the parameters {"loginPlatform":..,"puserId":..}.
  void PostLoginEvent(const std::string& loginPlatform, const std::string& puserId) EXCLUDES(mutex_);

  // Read by order creation.
  std::string DeviceId() const EXCLUDES(mutex_);
  std::string Resolution() const EXCLUDES(mutex_);

 private:
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

  EventIdentity Fields() const EXCLUDES(mutex_);

  const SessionState& session_;
  EventDelivery& delivery_;

  zarnplatform::Mutex refreshMutex_ ACQUIRED_BEFORE(mutex_);
  mutable zarnplatform::Mutex mutex_;
  EventIdentity fields_ GUARDED_BY(mutex_);
};

}  // namespace ZarnSdk
