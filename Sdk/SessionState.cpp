#include "Sdk/SessionState.h"

#include <utility>

namespace ZarnSdk {

using zarnplatform::MutexLock;

void SessionState::SetGlobalParams(GlobalParams params) {
  MutexLock lock(mutex_);
  global_ = std::move(params);
}

GlobalParams SessionState::Global() const {
  MutexLock lock(mutex_);
  return global_;
}

PlayerState SessionState::Player() const {
  MutexLock lock(mutex_);
  return player_;
}

bool SessionState::IsLoggedIn() const {
  MutexLock lock(mutex_);
  return loggedIn_;
}

uint64_t SessionState::LoginGeneration() const {
  MutexLock lock(mutex_);
  return generation_;
}

bool SessionState::StoreLogin(uint64_t generation, std::string token, std::string userId, std::string steamId) {
  MutexLock lock(mutex_);
  if (generation != generation_) return false;
  player_.token = std::move(token);
  player_.userId = std::move(userId);
  player_.steamId = std::move(steamId);
  loggedIn_ = true;
  return true;
}

void SessionState::Logout() {
  MutexLock lock(mutex_);
  player_ = PlayerState{};
  loggedIn_ = false;
  ++generation_;
}

void SessionState::SetServerId(std::string value) {
  MutexLock lock(mutex_);
  player_.serverId = std::move(value);
}

void SessionState::SetGameUserId(std::string value) {
  MutexLock lock(mutex_);
  player_.gameUserId = std::move(value);
}

void SessionState::SetNickName(std::string value) {
  MutexLock lock(mutex_);
  player_.nickName = std::move(value);
}

void SessionState::SetLevel(int32_t level) {
  MutexLock lock(mutex_);
  player_.level = level;
}

}  // namespace ZarnSdk
