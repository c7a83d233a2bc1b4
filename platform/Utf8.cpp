#include "platform/Utf8.h"

namespace zarnplatform {

char32_t NextCodePoint(std::string_view utf8, size_t& pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  const unsigned char b0 = s[pos];
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  // Sequence length and the allowed range of the second byte (Unicode table 3-7).
  int len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; }
  else if (b0 == 0xE0) { len = 3; lo = 0xA0; cp = b0 & 0x0F; }
  else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) { len = 3; cp = b0 & 0x0F; }
  else if (b0 == 0xED) { len = 3; hi = 0x9F; cp = b0 & 0x0F; }
  else if (b0 == 0xF0) { len = 4; lo = 0x90; cp = b0 & 0x07; }
  else if (b0 >= 0xF1 && b0 <= 0xF3) { len = 4; cp = b0 & 0x07; }
  else if (b0 == 0xF4) { len = 4; hi = 0x8F; cp = b0 & 0x07; }
  if (len == 0) {
    ++pos;
    return kReplacementCharacter;
  }
  size_t j = pos + 1;
  for (int k = 1; k < len; ++k, ++j) {
    const unsigned char lower = (k == 1) ? lo : 0x80;
    const unsigned char upper = (k == 1) ? hi : 0xBF;
    if (j >= n || s[j] < lower || s[j] > upper) {
      pos = j;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (s[j] & 0x3F);
  }
  pos = j;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string SanitizeUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t pos = 0; pos < utf8.size();) AppendUtf8(out, NextCodePoint(utf8, pos));
  return out;
}

}  // namespace zarnplatform
