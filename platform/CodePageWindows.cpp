#include "platform/CodePage.h"

#include <windows.h>

#include <climits>

namespace zarnplatform {

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  if (gbk.empty()) return std::string();
  if (gbk.size() > INT_MAX / 2) return std::nullopt;
  constexpr UINT kGbk = 936;
  const int size = static_cast<int>(gbk.size());
  std::wstring wide(gbk.size(), L'\0');
  const int units = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(), size, wide.data(), size);
  if (units <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(units) * 3, '\0');
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  out.resize(static_cast<size_t>(bytes));
  return out;
}

}  // namespace zarnplatform
