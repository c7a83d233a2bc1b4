#include "Sdk/ZarnUtils.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "Sdk/ZarnConfigUtils.h"
#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"

namespace ZarnSdk {
namespace {

std::string WithoutHyphens(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
  return text;
}

}  // namespace

std::string ZarnUtils::GetClientId(ZarnConfigUtils& store) { return GetClientId(store, GetMachineGuid()); }

std::string ZarnUtils::GetClientId(ZarnConfigUtils& store, const std::string& machineGuid) {
  // A machine id made of hyphens alone (or nothing) identifies nothing: a random id instead.
  const auto derive = [&machineGuid] {
    std::string id = WithoutHyphens(machineGuid);
    if (id.empty()) {
      LOG(WARNING) << "MachineGUID is empty, try uuid ...";
      const std::string random = zarnplatform::RandomUuid();
      if (!random.empty()) LOG(INFO) << "Random UUID Reuslt:" << random;
      id = WithoutHyphens(random);
    }
    return id;
  };
  std::string clientId;
  bool derived = false;
  const bool readable = store.UpdateConfigJson(true, [&](nlohmann::json& config) {
    const auto stored = config.find("ClientId");
    if (stored != config.end() && stored->is_string() && !stored->get_ref<const std::string&>().empty()) {
      clientId = stored->get<std::string>();
      return false;
    }
    clientId = derive();
    config["ClientId"] = clientId;
    derived = true;
    return true;
  }).has_value();
  // The stored id is unknown: one for this run only, never written over the one kept.
  if (!readable) {
    clientId = derive();
    derived = true;
  }
  if (derived) {
    LOG(INFO) << "Init ClientId :" << clientId;
  } else {
    LOG(INFO) << "Read ClientId :" << clientId;
  }
  return clientId;
}

std::string ZarnUtils::GetMachineGuid() { return zarnplatform::MachineId(); }

std::string GetOsVersion() { return zarnplatform::OsVersionText(); }

std::string GetResolutionText() {
  const auto size = zarnplatform::PrimaryScreenSize();
  if (!size) return "0x0";
  return std::to_string(size->first) + "x" + std::to_string(size->second);
}

std::string GetTimeZoneText() {
  const auto bias = zarnplatform::StandardBiasMinutes();
  if (!bias) return {};
  std::string text = FormatTimeZone(*bias);
  LOG(INFO) << GbkText{"TimeZone UTC\xa3\xba"} << *bias;  // "TimeZone UTC：" with the full-width colon
  return text;
}

std::string FormatTimeZone(long biasMinutes) {
  // Widened first: negating the most negative long would overflow.
  const long long hours = -static_cast<long long>(biasMinutes) / 60;
  return std::string("UTC") + (hours > 0 ? "+" : "") + std::to_string(hours);
}

}  // namespace ZarnSdk
