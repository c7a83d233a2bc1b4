// The bytes of a simulated authentication session ticket.
#pragma once

#include <cstddef>
#include <cstdint>

#include "steam/steam_api_subset.h"

// Size of every ticket the stand-in hands out; real Steam tickets of this kind are about as long.
inline constexpr size_t kSimTicketSize = 230;

// Fills `out` with `size` bytes that depend only on the three inputs: the same player, game and
// handle always give the same ticket, in any process, so that a mock server can recompute it,
// while any other handle gives different bytes. Pure; callable from any thread.
void GenerateTicket(uint64_t steamId, uint32_t appId, HAuthTicket handle, uint8_t* out, size_t size);
