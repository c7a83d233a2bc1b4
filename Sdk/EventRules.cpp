#include "Sdk/EventRules.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/ReplyReader.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

constexpr std::string_view kCustomPrefix = "qzk_self_";

constexpr std::array<std::string_view, 6> kStandardEvents{"qzk_startup",     "qzk_login",
                                                          "qzk_user_import", "qzk_user_create",
                                                          "qzk_user_info_update", "qzk_level_achieved"};

struct RequiredParams {
  std::string_view event;
  std::array<std::string_view, 2> params;  // empty entries unused
};

constexpr std::array<RequiredParams, 3> kRequiredParams{{
    {"qzk_user_import", {"isFirstEnter", ""}},
    {"qzk_user_create", {"nickname", "registerTime"}},
    {"qzk_user_info_update", {"nickname", ""}},
}};

// The rule of one required parameter is fixed by its name.
bool ParamValueAccepted(std::string_view param, const nlohmann::json& value) {
  if (param == "isFirstEnter") {
    if (!value.is_number_integer()) return false;
    // Taken as a 32-bit integer, compared unsigned with 1: negatives fail too.
    return static_cast<uint32_t>(value.get<int32_t>()) <= 1U;
  }
  if (param == "nickname") return value.is_string() && !value.get_ref<const std::string&>().empty();
  if (param == "registerTime") {
    // A present-day time in milliseconds has 13 digits; seconds, or a fractional form, do not.
    return value.is_number() && CompactJson(value).size() == 13;
  }
  return true;
}

bool IsNameCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string EventRules::GetEventName(const std::string& name) {
  for (const std::string_view standard : kStandardEvents) {
    if (name == standard) return name;
  }
  if (name.size() > kCustomPrefix.size() && std::string_view(name).substr(0, kCustomPrefix.size()) == kCustomPrefix) {
    return name;
  }
  return std::string(kCustomPrefix) + name;
}

bool EventRules::IsValidName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (!IsNameCharacter(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

nlohmann::json EventRules::ParseParams(const std::string& params) {
  if (!reply::NestingWithin(params, kMaxParamsDepth)) return nlohmann::json(nlohmann::json::value_t::discarded);
  return nlohmann::json::parse(params, nullptr, false);
}

void EventRules::CheckEventAndParams(const std::string& name, const std::string& params) {
  const RequiredParams* rules = nullptr;
  for (const RequiredParams& entry : kRequiredParams) {
    if (name == entry.event) rules = &entry;
  }
  if (rules == nullptr) return;
  LOG(INFO) << "Star Check Event Name:" << name << ",Params:" << params;
  const nlohmann::json parsed = ParseParams(params);
  if (parsed.is_discarded()) {
    LOG(ERROR) << "Event Check Param Error, Params Not Json:" << params;
    return;
  }
  // In ascending name order, as the rules were always kept.
  std::array<std::string_view, 2> ordered = rules->params;
  if (!ordered[1].empty() && ordered[1] < ordered[0]) std::swap(ordered[0], ordered[1]);
  for (const std::string_view param : ordered) {
    if (param.empty()) continue;
    const std::string key(param);
    const auto member = parsed.is_object() ? parsed.find(key) : parsed.end();
    if (parsed.is_object() && member != parsed.end()) {
      if (!ParamValueAccepted(param, *member)) {
        LOG(ERROR) << "Check Event Error, Param Value Incorrect, Name:" << key << ", Value:" << CompactJson(*member);
      }
    } else {
      LOG(ERROR) << "Check Event Error, Not Contain Musted Param, Name:" << key;
    }
  }
}

}  // namespace ZarnSdk
