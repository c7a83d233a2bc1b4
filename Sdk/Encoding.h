// The two text encodings the SDK writes itself: compact JSON and lower-case hexadecimal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ZarnSdk {

// No spaces, members in ascending byte order of their names (the JSON library keeps objects
// sorted). A text that is not UTF-8 (the game may hand us anything) becomes U+FFFD instead of
// making serialisation throw.
inline std::string CompactJson(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Two lower-case hexadecimal digits per byte.
inline std::string HexLower(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  return out;
}

}  // namespace ZarnSdk
