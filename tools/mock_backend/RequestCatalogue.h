// The mock's own description of every signed form request: which parameters arrive in which
// order, which values are signed in which order, and which values are fixed. Written from the
// server's side on purpose, independently of the SDK's request builder, so that a builder that
// drifts (wrong order, wrong signature list) is caught instead of agreed with.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zarnmock {

// Values whose content is a JSON text the SDK writes itself; checked for shape and compactness.
enum class JsonValueKind {
  MerchantExtra,    // {"merId":"<Steam app id>"}
  CollectionInfo,   // {"deviceId":"...","resolution":"..."}
  ExtVerifyInfo,    // {"steamOrderId":"<decimal id>"}
};

struct FormRequestSpec {
  std::string path;
  std::string name;                      // short name used in reasons and logs
  std::vector<std::string> ownParams;    // after the common prefix, before "osign"
  std::vector<std::string> signatureList;  // "appKey" stands for the key configured for the appId
  std::vector<std::pair<std::string, std::string>> fixedValues;
  std::vector<std::pair<std::string, JsonValueKind>> jsonValues;
};

// "appId", "os", "sdkVer", "sdkType", "clientId", "runPlatform", "gamePlatform".
const std::vector<std::string>& CommonParams();

// The full expected parameter order of a request: common prefix, own parameters, "osign".
std::vector<std::string> ExpectedParamOrder(const FormRequestSpec& spec);

// The spec of a form path, or null for any other path (the analytics path included).
const FormRequestSpec* FindFormRequestSpec(const std::string& path);

}  // namespace zarnmock
