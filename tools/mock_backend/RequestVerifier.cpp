#include "tools/mock_backend/RequestVerifier.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <set>

#include "tools/mock_backend/Md5Hex.h"

namespace zarnmock {
namespace {

using nlohmann::json;

bool IsDecimalDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsLowerHex32(const std::string& text) {
  return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

bool FitsUint32(const std::string& digits) {
  if (!IsDecimalDigits(digits) || digits.size() > 10) return false;
  return std::stoull(digits) <= UINT32_MAX;
}

// Parses `text` as a compact JSON object whose members are exactly `members`, all strings.
bool IsCompactStringObject(const std::string& text, const std::set<std::string>& members, json& parsed) {
  parsed = json::parse(text, nullptr, false);
  if (!parsed.is_object() || parsed.size() != members.size()) return false;
  for (const auto& name : members) {
    auto it = parsed.find(name);
    if (it == parsed.end() || !it->is_string()) return false;
  }
  return parsed.dump() == text;
}

std::string CheckJsonValue(const std::string& name, const std::string& value, JsonValueKind kind) {
  json parsed;
  switch (kind) {
    case JsonValueKind::MerchantExtra:
      if (!IsCompactStringObject(value, {"merId"}, parsed) || !FitsUint32(parsed["merId"].get<std::string>())) {
        return name + " is not the merchant extra text {\"merId\":\"<Steam app id>\"}: " + value;
      }
      return {};
    case JsonValueKind::CollectionInfo:
      if (!IsCompactStringObject(value, {"deviceId", "resolution"}, parsed)) {
        return name + " is not {\"deviceId\":\"...\",\"resolution\":\"...\"}: " + value;
      }
      return {};
    case JsonValueKind::ExtVerifyInfo:
      if (!IsCompactStringObject(value, {"steamOrderId"}, parsed) ||
          !IsDecimalDigits(parsed["steamOrderId"].get<std::string>())) {
        return name + " is not {\"steamOrderId\":\"<decimal id>\"}: " + value;
      }
      return {};
  }
  return {};
}

std::string CheckParamNames(const std::vector<std::string>& expected, const FormParams& params) {
  std::set<std::string> seen;
  for (const auto& [name, value] : params) {
    if (!seen.insert(name).second) return "duplicate parameter " + name;
  }
  for (const auto& [name, value] : params) {
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
      return "unexpected parameter " + name;
    }
  }
  for (const auto& name : expected) {
    if (seen.count(name) == 0) return "missing parameter " + name;
  }
  // Same set of names: any difference now is one of order.
  for (size_t i = 0; i < expected.size(); ++i) {
    if (params[i].first != expected[i]) {
      return "parameter order: expected " + expected[i] + " at position " + std::to_string(i + 1) + ", got " +
             params[i].first;
    }
  }
  return {};
}

const std::string& ValueOf(const FormParams& params, const std::string& name) {
  static const std::string kEmpty;
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return kEmpty;
}

Verdict Refuse(std::string reason, std::string signatureText = {}) {
  Verdict verdict;
  verdict.ok = false;
  verdict.reason = std::move(reason);
  verdict.signatureText = std::move(signatureText);
  return verdict;
}

}  // namespace

Verdict VerifyFormRequest(const FormRequestSpec& spec, const FormParams& params, const AppKeyLookup& keyFor) {
  if (std::string fault = CheckParamNames(ExpectedParamOrder(spec), params); !fault.empty()) {
    return Refuse(std::move(fault));
  }

  const std::string& appId = ValueOf(params, "appId");
  const std::optional<std::string> appKey = keyFor(appId);
  if (!appKey) return Refuse("unknown appId " + appId);

  std::string signatureText;
  for (const auto& name : spec.signatureList) {
    signatureText += name == "appKey" ? *appKey : ValueOf(params, name);
  }
  const std::string& osign = ValueOf(params, "osign");
  if (!IsLowerHex32(osign)) return Refuse("osign is not 32 lower-case hex digits: " + osign, signatureText);
  const std::string expectedSign = Md5Hex(signatureText);
  if (osign != expectedSign) {
    return Refuse("osign mismatch: expected " + expectedSign + ", got " + osign, signatureText);
  }

  if (std::find(spec.ownParams.begin(), spec.ownParams.end(), "appKey") != spec.ownParams.end() &&
      ValueOf(params, "appKey") != *appKey) {
    return Refuse("appKey parameter is not the key of app " + appId, signatureText);
  }
  for (const auto& [name, fixed] : spec.fixedValues) {
    const std::string& value = ValueOf(params, name);
    if (value != fixed) {
      return Refuse(name + " must be \"" + fixed + "\", got \"" + value + "\"", signatureText);
    }
  }
  for (const auto& [name, kind] : spec.jsonValues) {
    if (std::string fault = CheckJsonValue(name, ValueOf(params, name), kind); !fault.empty()) {
      return Refuse(std::move(fault), signatureText);
    }
  }

  Verdict verdict;
  verdict.signatureText = std::move(signatureText);
  return verdict;
}

Verdict VerifyAnalyticsBody(const std::string& body) {
  const json doc = json::parse(body, nullptr, false);
  if (doc.is_discarded()) return Refuse("analytics body is not JSON");
  if (!doc.is_object()) return Refuse("analytics body is not a JSON object");

  static const std::set<std::string> kTexts = {"appId",     "deviceId", "event",    "eventOrder",
                                               "fingerId",  "gamePlatform", "gameUserId", "platform",
                                               "sdkType",   "sdkVersion",   "serverId"};
  static const std::set<std::string> kIntegers = {"sdkTime", "userId"};
  for (const auto& name : kTexts) {
    auto it = doc.find(name);
    if (it == doc.end()) return Refuse("analytics member " + name + " is missing");
    if (!it->is_string()) return Refuse("analytics member " + name + " is not a string");
  }
  for (const auto& name : kIntegers) {
    auto it = doc.find(name);
    if (it == doc.end()) return Refuse("analytics member " + name + " is missing");
    if (!it->is_number_integer()) return Refuse("analytics member " + name + " is not an integer");
  }
  for (const auto& [name, value] : doc.items()) {
    if (kTexts.count(name) == 0 && kIntegers.count(name) == 0 && name != "context" && name != "value") {
      return Refuse("unexpected analytics member " + name);
    }
  }
  if (auto it = doc.find("value"); it != doc.end() && !it->is_number_float()) {
    return Refuse("analytics member value is not a floating-point number");
  }
  auto context = doc.find("context");
  if (context == doc.end() || !context->is_object()) return Refuse("analytics member context is not an object");
  for (const char* name : {"os", "resolution", "tz"}) {
    if (!context->contains(name)) return Refuse(std::string("analytics context lacks ") + name);
  }
  const std::string eventOrder = doc["eventOrder"].get<std::string>();
  if (eventOrder.size() < 2 || eventOrder[0] != 'n' || eventOrder[1] == '0' || !IsDecimalDigits(eventOrder.substr(1))) {
    return Refuse("analytics eventOrder is not n<sequence number>: " + doc["eventOrder"].get<std::string>());
  }
  if (doc["event"].get<std::string>().empty()) return Refuse("analytics event name is empty");
  if (doc["deviceId"] != doc["fingerId"]) return Refuse("analytics deviceId and fingerId differ");
  if (doc.dump() != body) return Refuse("analytics body is not compact JSON with members in name order");
  return {};
}

std::string CheckContentType(bool analytics, const std::string& contentType) {
  const char* expected = analytics ? "text/plain;charset=UTF-8" : "application/x-www-form-urlencoded";
  if (contentType == expected) return {};
  return std::string("content type must be ") + expected + ", got " +
         (contentType.empty() ? std::string("none") : contentType);
}

}  // namespace zarnmock
