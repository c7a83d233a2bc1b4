#include "platform/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

namespace zarnplatform {
namespace {

// The setting's strings are the caller's to free (GlobalFree); null when absent.
std::string TakeUtf8(LPWSTR wide) {
  if (wide == nullptr) return {};
  std::string out;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes > 1) {
    out.resize(static_cast<size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
  }
  GlobalFree(wide);
  return out;
}

}  // namespace

std::optional<SystemProxySetting> UserSystemProxy() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return std::nullopt;
  // The automatic configuration script's address is not used: running it is left out.
  TakeUtf8(config.lpszAutoConfigUrl);
  SystemProxySetting setting{TakeUtf8(config.lpszProxy), TakeUtf8(config.lpszProxyBypass)};
  if (setting.proxy.empty()) return std::nullopt;
  return setting;
}

}  // namespace zarnplatform
