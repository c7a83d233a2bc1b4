// Conversions between the wide strings of the C++ export boundary (UTF-16 on Windows, UTF-32
// elsewhere) and the UTF-8 texts the SDK keeps and the C interface carries.
//
// Every code unit is converted, U+0000 included: no call may act on a shorter text than the
// game passed. Invalid input (a lone surrogate, a code point beyond U+10FFFF, malformed UTF-8)
// becomes U+FFFD; they never throw except for allocation failure.
#pragma once

#include <string>
#include <string_view>

namespace ZarnSdk {

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace ZarnSdk
