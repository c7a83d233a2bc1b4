#include "Sdk/SteamSession.h"

#include <atomic>

namespace ZarnSdk {
namespace {
// 0 is never a Steam application id, so it stands for "not known".
std::atomic<uint32_t> recordedAppId{0};
}  // namespace

void RecordSteamAppId(uint32_t appId) { recordedAppId.store(appId, std::memory_order_release); }

std::optional<uint32_t> RecordedSteamAppId() {
  const uint32_t id = recordedAppId.load(std::memory_order_acquire);
  if (id == 0) return std::nullopt;
  return id;
}

}  // namespace ZarnSdk
