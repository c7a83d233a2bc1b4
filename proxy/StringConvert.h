// Conversions between the wide strings of the C++ export boundary (UTF-16 on Windows, UTF-32
// elsewhere), the UTF-8 of the C interface, and the UTF-8 strings used inside the SDK.
//
// Every code unit is converted, U+0000 included: no call may act on a shorter text than the
// game passed. Invalid input (a lone surrogate, a code point beyond U+10FFFF, malformed UTF-8)
// becomes U+FFFD; they never throw except for allocation failure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ZarnSdk {

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(std::string_view utf8);
// UTF-8 as it came, with every invalid sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view utf8);

}  // namespace ZarnSdk
