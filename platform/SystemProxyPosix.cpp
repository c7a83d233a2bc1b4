#include "platform/SystemProxy.h"

namespace zarnplatform {

// Desktop Linux and macOS settings reach programs through the environment variables.
std::optional<SystemProxySetting> UserSystemProxy() { return std::nullopt; }

}  // namespace zarnplatform
