// Conversions between the wide strings of the export boundary (UTF-16 on Windows, UTF-32
// elsewhere) and the UTF-8 strings used everywhere inside the SDK.
//
// Both stop at the first U+0000, as a C string would. Invalid input (a lone surrogate, a
// code point beyond U+10FFFF, malformed UTF-8) becomes U+FFFD; they never throw except for
// allocation failure.
#pragma once

#include <string>

namespace ZarnSdk {

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace ZarnSdk
