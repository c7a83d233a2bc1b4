// UTF-8 read and written code point by code point, the same on every platform. Texts from the
// server, the transport's failures and the log may hold any bytes; what reaches the game is
// valid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zarnplatform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code point starting at `pos`, which moves past it. Overlong forms, surrogates and values
// past U+10FFFF are rejected: each maximal invalid subpart reads as one U+FFFD.
char32_t NextCodePoint(std::string_view utf8, size_t& pos);
// `cp` must be a Unicode scalar value.
void AppendUtf8(std::string& out, char32_t cp);
// UTF-8 as it came, with every invalid sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view utf8);

}  // namespace zarnplatform
