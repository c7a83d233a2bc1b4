// GCC 12 with the address sanitizer reports -Wmaybe-uninitialized inside libstdc++'s regex
// compiler (std::function moves in its automaton); the warning is about the library's own
// code, so it is silenced for the headers only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "Sdk/CZarnTrack.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <regex>
#include <utility>

#include "Sdk/CZarnCore.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnLog.h"
#include "Sdk/ZarnUtils.h"
#pragma GCC diagnostic pop

namespace ZarnSdk {
namespace {

constexpr const char* kCustomPrefix = "qzk_self_";
constexpr std::size_t kCustomPrefixLength = 9;
constexpr const char* kUnknown = "_unknown";

// Texts from the game may hold bytes that are not UTF-8; the document must still go out (with
// U+FFFD in their place) rather than fail to serialise.
std::string Compact(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Whether no array or object in the text opens deeper than `limit` levels. Brackets inside
// string literals do not count. Only a guard: the parser still decides validity.
bool NestingWithin(const std::string& text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// The parameter text as JSON, or a discarded value when it is not JSON or nests too deep.
nlohmann::json ParseParams(const std::string& text) {
  if (!NestingWithin(text, CZarnTrack::kMaxParamsDepth)) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(text, nullptr, false);
}

bool IsNameCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The same answer as the name pattern under ECMAScript rules, in one pass without allocation.
bool MatchesNamePattern(const std::string& subject) {
  if (subject.empty()) return false;
  for (const char c : subject) {
    if (!IsNameCharacter(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

int64_t NowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

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

// The rule of one required parameter, fixed by its name (the declared type texts are only
// descriptive). Unknown names carry no rule.
bool ParamValueAccepted(const std::string& param, const nlohmann::json& value) {
  if (param == "isFirstEnter") {
    if (!value.is_number_integer()) return false;
    // Taken as a 32-bit integer, compared unsigned with 1: negatives fail too.
    return static_cast<uint32_t>(value.get<int32_t>()) <= 1U;
  }
  if (param == "nickname") {
    return value.is_string() && !value.get_ref<const std::string&>().empty();
  }
  if (param == "registerTime") {
    // A present-day time in milliseconds has 13 digits; seconds, or a fractional form, do not.
    return value.is_number() && Compact(value).size() == 13;
  }
  return true;
}

}  // namespace

struct CZarnTrack::Snapshot {
  EventIdentity fields;
  std::string eventName;
  nlohmann::json rules;
};

CZarnTrack& CZarnTrack::Instance() {
  // Never destroyed: detached workers and late exports may still post while the process ends.
  static CZarnTrack* const instance = new CZarnTrack();
  return *instance;
}

// ------------------------------------------------------------------------------ set-up

void CZarnTrack::Init() {
  InitEventRules();

  const GlobalParams global = CZarnCore::Instance().GetGlobalParams();
  {
    std::lock_guard<std::mutex> lock(mutex_);
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
  LOG(INFO) << "OS Version\xA3\xBA" << os;  // "OS Version：" (full-width colon)

  std::lock_guard<std::mutex> lock(mutex_);
  fields_.resolution = std::move(resolution);
  // A platform that cannot tell its time zone leaves the text as it was.
  if (!tz.empty()) fields_.tz = std::move(tz);
  fields_.os = std::move(os);
  fields_.initialised = true;
}

void CZarnTrack::UpdateUserId() {
  std::lock_guard<std::mutex> refresh(refreshMutex_);
  const std::string text = CZarnCore::Instance().GetUserId();
  const std::optional<int64_t> parsed = ParseDecimal(text);
  if (!parsed) LOG(ERROR) << "Update UserId Error, Not Decimal:" << text;
  std::lock_guard<std::mutex> lock(mutex_);
  fields_.userId = parsed.value_or(-1);
}

void CZarnTrack::UpdateGameUserInfo() {
  std::lock_guard<std::mutex> refresh(refreshMutex_);
  const PlayerState player = CZarnCore::Instance().GetPlayerState();
  std::string serverId = ValueOrUnknown(player.serverId);
  std::string gameUserId = ValueOrUnknown(player.gameUserId);
  std::lock_guard<std::mutex> lock(mutex_);
  fields_.serverId = std::move(serverId);
  fields_.gameUserId = std::move(gameUserId);
  fields_.level = player.level;
}

std::string CZarnTrack::ValueOrUnknown(const std::string& text) { return text.empty() ? std::string(kUnknown) : text; }

void CZarnTrack::InitEventRules() {
  std::set<std::string> standard{"qzk_startup",          "qzk_login",         "qzk_user_import",
                                 "qzk_user_create",      "qzk_user_info_update", "qzk_level_achieved"};
  nlohmann::json rules = nlohmann::json::object();
  rules["qzk_user_import"] = {{"isFirstEnter", "int"}};
  rules["qzk_user_create"] = {{"nickname", "string"}, {"registerTime", "long"}};
  rules["qzk_user_info_update"] = {{"nickname", "string"}};

  std::lock_guard<std::mutex> lock(mutex_);
  standardEvents_ = std::move(standard);
  requiredParams_ = std::move(rules);
}

std::string CZarnTrack::DeviceId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fields_.deviceId;
}

std::string CZarnTrack::Resolution() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fields_.resolution;
}

// ------------------------------------------------------------------------------ names and rules

std::string CZarnTrack::GetEventName(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return EventNameLocked(name);
}

std::string CZarnTrack::EventNameLocked(const std::string& name) const {
  if (standardEvents_.count(name) != 0) return name;
  if (name.size() > kCustomPrefixLength && name.compare(0, kCustomPrefixLength, kCustomPrefix) == 0) return name;
  return kCustomPrefix + name;
}

nlohmann::json CZarnTrack::RulesForLocked(const std::string& name) const {
  if (!requiredParams_.is_object()) return nullptr;
  const auto it = requiredParams_.find(name);
  if (it == requiredParams_.end()) return nullptr;
  return *it;
}

bool CZarnTrack::RegexMatch(const std::string& pattern, const std::string& subject) {
  if (pattern == kNamePattern) return MatchesNamePattern(subject);
  try {
    return std::regex_match(subject, std::regex(pattern, std::regex::ECMAScript));
  } catch (const std::exception&) {
    return false;
  }
}

void CZarnTrack::CheckEventAndParams(const std::string& name, std::string params) {
  nlohmann::json rules;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rules = RulesForLocked(name);
  }
  CheckParamsAgainstRules(name, params, rules);
}

void CZarnTrack::CheckParamsAgainstRules(const std::string& name, const std::string& params,
                                         const nlohmann::json& rules) {
  if (!rules.is_object()) return;
  LOG(INFO) << "Star Check Event Name:" << name << ",Params:" << params;
  const nlohmann::json parsed = ParseParams(params);
  if (parsed.is_discarded()) {
    LOG(ERROR) << "Event Check Param Error, Params Not Json:" << params;
    return;
  }
  for (const auto& rule : rules.items()) {
    const std::string& param = rule.key();
    const auto member = parsed.is_object() ? parsed.find(param) : parsed.end();
    if (parsed.is_object() && member != parsed.end()) {
      if (!ParamValueAccepted(param, *member)) {
        LOG(ERROR) << "Check Event Error, Param Value Incorrect, Name:" << param << ", Value:" << Compact(*member);
      }
    } else {
      LOG(ERROR) << "Check Event Error, Not Contain Musted Param, Name:" << param;
    }
  }
}

// ------------------------------------------------------------------------------ events

CZarnTrack::Snapshot CZarnTrack::TakeSnapshot(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  Snapshot s;
  s.fields = fields_;
  if (!fields_.initialised) return s;
  s.eventName = EventNameLocked(name);
  s.rules = RulesForLocked(name);
  return s;
}

std::string CZarnTrack::GetEventOrder() {
  int64_t order = 0;
  ZarnConfigUtils::UpdateConfigJson(false, [&order](nlohmann::json& config) {
    if (!config.is_object()) config = ZarnConfigUtils::DefaultAppConfig();
    const auto it = config.find("EventOrder");
    const int64_t last = (it != config.end() && it->is_number_integer()) ? it->get<int64_t>() : 0;
    order = last < std::numeric_limits<int64_t>::max() ? last + 1 : last;
    config["EventOrder"] = order;
  });
  std::string text = "n";
  text += std::to_string(order);
  return text;
}

void CZarnTrack::PostEvent(const std::string& name, const std::string& params, double value) {
  try {
    Snapshot s = TakeSnapshot(name);
    if (!s.fields.initialised) {
      LOG(ERROR) << "Post Event Before Init:" << name;
      return;
    }

    nlohmann::json envelope = nlohmann::json::object();
    envelope["appId"] = std::move(s.fields.appId);
    envelope["deviceId"] = std::move(s.fields.deviceId);
    envelope["fingerId"] = std::move(s.fields.fingerId);
    envelope["platform"] = std::move(s.fields.platform);
    envelope["gamePlatform"] = std::move(s.fields.gamePlatform);
    envelope["userId"] = s.fields.userId;
    envelope["serverId"] = std::move(s.fields.serverId);
    envelope["gameUserId"] = std::move(s.fields.gameUserId);
    envelope["sdkVersion"] = std::move(s.fields.sdkVersion);
    envelope["sdkType"] = std::move(s.fields.sdkType);
    envelope["sdkTime"] = NowMillis();
    // The counter advances here, before any check: a rejected-looking event still uses a number.
    envelope["eventOrder"] = GetEventOrder();
    envelope["event"] = std::move(s.eventName);
    if (!std::isnan(value)) envelope["value"] = value;

    if (!RegexMatch(kNamePattern, name)) LOG(ERROR) << "Post Event Name Error:" << name;

    nlohmann::json context = nlohmann::json::object();
    context["os"] = std::move(s.fields.os);
    context["resolution"] = std::move(s.fields.resolution);
    context["tz"] = std::move(s.fields.tz);
    if (name == "qzk_user_create" || name == "qzk_level_achieved") context["level"] = s.fields.level;

    if (!params.empty()) {
      const nlohmann::json parsed = ParseParams(params);
      if (parsed.is_discarded() || !parsed.is_object()) {
        LOG(ERROR) << "Post Event Param Error, Not Valid JSON:" << params;
      } else {
        for (const auto& member : parsed.items()) {
          context[member.key()] = member.value();
          if (!RegexMatch(kNamePattern, member.key())) LOG(ERROR) << "Post Event Param Error:" << member.key();
        }
      }
    }
    envelope["context"] = std::move(context);

    CheckParamsAgainstRules(name, params, s.rules);

    // Analytics are fire-and-forget: the reply (or its failure, logged by the gateway) is dropped.
    ZarnApi::PostTrackData(Compact(envelope), [](HttpResp) {});
  } catch (const std::exception& e) {
    LOG(ERROR) << "Post Event Error:" << name << ", " << e.what();
  } catch (...) {
    LOG(ERROR) << "Post Event Error:" << name;
  }
}

void CZarnTrack::PostLoginEvent(std::string loginPlatform, std::string puserId) {
  nlohmann::json params = nlohmann::json::object();
  params["loginPlatform"] = std::move(loginPlatform);
  params["puserId"] = std::move(puserId);
  PostEvent("qzk_login", Compact(params), std::numeric_limits<double>::quiet_NaN());
}

}  // namespace ZarnSdk
