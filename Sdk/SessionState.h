// What every request and event says about the application, the device and the player: the
// global parameters (fixed at start-up) and the player's state (the game's setters, the login
// reply, Logout). Its one owner; everyone else reads copies.
//
// Threads: any. `mutex_` guards everything below it; it is a leaf lock (nothing is called
// while it is held).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Mutex.h"

namespace ZarnSdk {

// The application's, SDK's and device's identity texts, filled once per start-up.
struct GlobalParams {
  std::string appId;
  std::string appKey;
  std::string os;
  std::string sdkVer;
  std::string sdkType;
  std::string clientId;
  std::string runPlatform;
  std::string gamePlatform;
  std::string steamAppId;
};

// The player as the game and the server last described them. userId is "-1" while nobody is
// logged in.
struct PlayerState {
  std::string serverId;
  std::string gameUserId;
  std::string nickName;
  int32_t level = 0;
  std::string token;
  std::string userId = "-1";
  std::string steamId;  // the Steam account of the login, decimal; empty while logged out
};

class SessionState {
 public:
  void SetGlobalParams(GlobalParams params) EXCLUDES(mutex_);
  GlobalParams Global() const EXCLUDES(mutex_);

  PlayerState Player() const EXCLUDES(mutex_);
  bool IsLoggedIn() const EXCLUDES(mutex_);
  // Changes with every Logout. A login reads it when the game starts it and stores its result
  // only if no Logout came meanwhile.
  uint64_t LoginGeneration() const EXCLUDES(mutex_);
  // A successful login: token, user id and Steam account, then logged in. False (nothing
  // stored) when a Logout came after `generation` was read.
  bool StoreLogin(uint64_t generation, std::string token, std::string userId, std::string steamId) EXCLUDES(mutex_);
  // Forgets the player: user id "-1", empty texts, level 0, logged out.
  void Logout() EXCLUDES(mutex_);

  void SetServerId(std::string value) EXCLUDES(mutex_);
  void SetGameUserId(std::string value) EXCLUDES(mutex_);
  void SetNickName(std::string value) EXCLUDES(mutex_);
  void SetLevel(int32_t level) EXCLUDES(mutex_);

 private:
  mutable zarnplatform::Mutex mutex_;
  GlobalParams global_ GUARDED_BY(mutex_);
  PlayerState player_ GUARDED_BY(mutex_);
  bool loggedIn_ GUARDED_BY(mutex_) = false;
  uint64_t generation_ GUARDED_BY(mutex_) = 0;
};

}  // namespace ZarnSdk
