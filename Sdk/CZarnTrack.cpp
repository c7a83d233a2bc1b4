#include "Sdk/CZarnTrack.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/EventRules.h"
#include "Sdk/ZarnLog.h"
#include "Sdk/ZarnUtils.h"
#include "platform/Platform.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

constexpr const char* kUnknown = "_unknown";

std::string ValueOrUnknown(const std::string& text) { return text.empty() ? std::string(kUnknown) : text; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Signed 64-bit decimal with leading blanks and an optional sign, stopping at the first
// character that is not a digit; nothing when no digit leads or the value does not fit.
std::optional<int64_t> ParseDecimal(const std::string& text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end && IsBlank(*p)) ++p;
  if (p != end && *p == '+') {
    ++p;
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
  }
  int64_t value = 0;
  const auto [next, ec] = std::from_chars(p, end, value);
  if (ec != std::errc() || next == p) return std::nullopt;
  return value;
}

}  // namespace

void CZarnTrack::Init() {
  const GlobalParams global = session_.Global();
  {
    MutexLock lock(mutex_);
    fields_.appId = global.appId;
    fields_.deviceId = global.clientId;
    fields_.fingerId = global.clientId;
    fields_.platform = global.runPlatform;
    fields_.gamePlatform = global.gamePlatform;
    fields_.sdkVersion = global.sdkVer;
    fields_.sdkType = global.sdkType;
  }
  UpdateUserId();
  UpdateGameUserInfo();

  // Taken outside the lock: the platform queries may be slow and the time zone logs its line.
  std::string resolution = GetResolutionText();
  std::string tz = GetTimeZoneText();
  std::string os = GetOsVersion();
  LOG(INFO) << GbkText{"OS Version\xA3\xBA"} << os;  // "OS Version：" (full-width colon)

  MutexLock lock(mutex_);
  fields_.resolution = std::move(resolution);
  // A platform that cannot tell its time zone leaves the text as it was.
  if (!tz.empty()) fields_.tz = std::move(tz);
  fields_.os = std::move(os);
  fields_.initialised = true;
}

void CZarnTrack::UpdateUserId() {
  MutexLock refresh(refreshMutex_);
  const std::string text = session_.Player().userId;
  const std::optional<int64_t> parsed = ParseDecimal(text);
  if (!parsed) LOG(ERROR) << "Update UserId Error, Not Decimal:" << text;
  MutexLock lock(mutex_);
  fields_.userId = parsed.value_or(-1);
}

void CZarnTrack::UpdateGameUserInfo() {
  MutexLock refresh(refreshMutex_);
  const PlayerState player = session_.Player();
  std::string serverId = ValueOrUnknown(player.serverId);
  std::string gameUserId = ValueOrUnknown(player.gameUserId);
  MutexLock lock(mutex_);
  fields_.serverId = std::move(serverId);
  fields_.gameUserId = std::move(gameUserId);
  fields_.level = player.level;
}

CZarnTrack::EventIdentity CZarnTrack::Fields() const {
  MutexLock lock(mutex_);
  return fields_;
}

std::string CZarnTrack::DeviceId() const { return Fields().deviceId; }

std::string CZarnTrack::Resolution() const { return Fields().resolution; }

std::string CZarnTrack::GetEventOrder() {
  const std::optional<int64_t> number = delivery_.NextNumber();
  return number ? "n" + std::to_string(*number) : std::string();
}

void CZarnTrack::PostEvent(const std::string& name, const std::string& params, double value) {
  try {
    EventIdentity s = Fields();
    if (!s.initialised) {
      LOG(ERROR) << "Post Event Before Init:" << name;
      return;
    }

    nlohmann::json envelope = nlohmann::json::object();
    envelope["appId"] = std::move(s.appId);
    envelope["deviceId"] = std::move(s.deviceId);
    envelope["fingerId"] = std::move(s.fingerId);
    envelope["platform"] = std::move(s.platform);
    envelope["gamePlatform"] = std::move(s.gamePlatform);
    envelope["userId"] = s.userId;
    envelope["serverId"] = std::move(s.serverId);
    envelope["gameUserId"] = std::move(s.gameUserId);
    envelope["sdkVersion"] = std::move(s.sdkVersion);
    envelope["sdkType"] = std::move(s.sdkType);
    envelope["sdkTime"] = zarnplatform::WallClockMillis();  // read in milliseconds: no overflow in 2262
    // The counter advances before any check: a rejected-looking event still uses a number.
    const std::optional<int64_t> number = delivery_.NextNumber();
    if (!number) return;  // after Exit nothing is sent
    envelope["eventOrder"] = "n" + std::to_string(*number);
    envelope["event"] = EventRules::GetEventName(name);
    // NaN means "no value"; JSON has no infinity (the library would write null), so an
    // infinite value is none either.
    if (std::isfinite(value)) envelope["value"] = value;

    if (!EventRules::IsValidName(name)) LOG(ERROR) << "Post Event Name Error:" << name;

    nlohmann::json context = nlohmann::json::object();
    context["os"] = std::move(s.os);
    context["resolution"] = std::move(s.resolution);
    context["tz"] = std::move(s.tz);
    if (name == "qzk_user_create" || name == "qzk_level_achieved") context["level"] = s.level;

    if (!params.empty()) {
      const nlohmann::json parsed = EventRules::ParseParams(params);
      if (parsed.is_discarded() || !parsed.is_object()) {
        LOG(ERROR) << "Post Event Param Error, Not Valid JSON:" << params;
      } else {
        for (const auto& member : parsed.items()) {
          context[member.key()] = member.value();
          if (!EventRules::IsValidName(member.key())) LOG(ERROR) << "Post Event Param Error:" << member.key();
        }
      }
    }
    envelope["context"] = std::move(context);

    EventRules::CheckEventAndParams(name, params);

    delivery_.Enqueue(*number, CompactJson(envelope));
  } catch (const std::exception& e) {
    LOG(ERROR) << "Post Event Error:" << name << ", " << e.what();
  } catch (...) {
    LOG(ERROR) << "Post Event Error:" << name;
  }
}

void CZarnTrack::PostLoginEvent(const std::string& loginPlatform, const std::string& puserId) {
  nlohmann::json params = nlohmann::json::object();
  params["loginPlatform"] = loginPlatform;
  params["puserId"] = puserId;
  PostEvent("qzk_login", CompactJson(params), std::numeric_limits<double>::quiet_NaN());
}

}  // namespace ZarnSdk
