#include "TicketGenerator.h"

namespace {

// SplitMix64: a tiny, well-distributed generator; the ticket needs no secrecy, only stable bytes
// that differ between inputs.
uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void GenerateTicket(uint64_t steamId, uint32_t appId, HAuthTicket handle, uint8_t* out, size_t size) {
  uint64_t state = steamId;
  state = SplitMix64(state) ^ ((static_cast<uint64_t>(appId) << 32) | handle);
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t word = SplitMix64(state);
    for (size_t b = 0; b < 8 && i + b < size; ++b) {
      out[i + b] = static_cast<uint8_t>(word >> (8 * b));
    }
  }
}
