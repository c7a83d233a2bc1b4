// What the SDK remembers of the running Steam session without calling Steam: the game's Steam
// application id, recorded once Steam has started. The per-game state file needs it; nothing
// may call into Steam before it started or after it was shut down.
#pragma once

#include <cstdint>
#include <optional>

namespace ZarnSdk {

void RecordSteamAppId(uint32_t appId);
std::optional<uint32_t> RecordedSteamAppId();

}  // namespace ZarnSdk
