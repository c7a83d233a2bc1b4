// The proxy the user set for their account in the operating system, where it has such a setting.
#pragma once

#include <optional>
#include <string>

namespace zarnplatform {

struct SystemProxySetting {
  std::string proxy;   // "host:port", or per scheme "http=host:port;https=host:port"
  std::string bypass;  // ";"-separated: names, globs with '*', "<local>"; may be empty
};

// Windows: the user's manual proxy (WinHttpGetIEProxyConfigForCurrentUser); an automatic
// configuration script is not run. nullopt where none is set, and on other systems. Never
// throws; may be called from any thread.
std::optional<SystemProxySetting> UserSystemProxy();

}  // namespace zarnplatform
