// Analytics: builds one JSON event document per event and posts it; the reply is ignored.
// Fields are guarded by mutex_; the per-game event counter advances through the storage
// layer's serialised update, so every event gets its own sequence number.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace ZarnSdk {

class CZarnTrack {
 public:
  static CZarnTrack& Instance();

  void Init();
  void UpdateUserId();
  void UpdateGameUserInfo();
  std::string GetEventOrder();
  void PostEvent(const std::string& name, const std::string& params, double value);
  void PostLoginEvent(std::string loginPlatform, std::string puserId);
  static std::string ValueOrUnknown(const std::string& text);

  void InitEventRules();
  std::string GetEventName(const std::string& name);
  static bool RegexMatch(const std::string& pattern, const std::string& subject);
  void CheckEventAndParams(const std::string& name, std::string params);

  // Read by order creation.
  std::string DeviceId();
  std::string Resolution();

 private:
  CZarnTrack() = default;
  ~CZarnTrack() = delete;

  std::mutex mutex_;
  bool initialised_ = false;
  std::string deviceId_;
  std::string appId_;
  std::string platform_;
  std::string gamePlatform_;
  std::string fingerId_;
  int64_t userId_ = -1;
  std::string serverId_;
  std::string gameUserId_;
  std::string sdkVersion_;
  std::string sdkType_;
  int32_t level_ = 0;
  std::string tz_;
  std::string os_;
  std::string resolution_;
  std::set<std::string> standardEvents_;
  nlohmann::json requiredParams_;
};

}  // namespace ZarnSdk
