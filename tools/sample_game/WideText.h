// Conversions between the SDK's wide strings and the UTF-8 this console program prints.
// wchar_t is UTF-16 on Windows and UTF-32 elsewhere; both are handled. Malformed input becomes
// U+FFFD rather than an error, since these texts are only displayed.
#pragma once

#include <string>

namespace sample {

std::string ToUtf8(const std::wstring& wide);
std::wstring FromUtf8(const std::string& utf8);

// Terminal columns the text takes (East Asian wide characters count two), for lining up tables.
size_t DisplayWidth(const std::string& utf8);

}  // namespace sample
