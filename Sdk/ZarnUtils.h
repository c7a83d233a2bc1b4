// Device identity and environment texts.
#pragma once

#include <string>

namespace ZarnSdk {

class ZarnConfigUtils;

class ZarnUtils {
 public:
  // The persistent client id: the one stored in the shared file, else derived from the
  // machine id, else (also for a machine id of hyphens alone) a random UUID; without hyphens. A
  // derived id is stored (even when empty, so the next start tries again); a stored non-empty
  // one is returned without writing. The read-derive-write is one step under the store's lock.
  // When the shared file exists but cannot be read, the id is derived for this run and not
  // stored.
  static std::string GetClientId(ZarnConfigUtils& store);
  // The same with the machine id given (what GetMachineGuid would return).
  static std::string GetClientId(ZarnConfigUtils& store, const std::string& machineGuid);
  // The platform's machine identifier, or empty on any failure.
  static std::string GetMachineGuid();
};

// "Windows 10", ... on Windows; the distribution's name elsewhere; "_unknown" when unknown.
std::string GetOsVersion();
// "<width>x<height>" of the primary screen, "0x0" when none is reachable.
std::string GetResolutionText();
// "UTC+8" etc. from the standard (not daylight) offset; logs "TimeZone UTC：<bias>". Empty when
// the platform cannot tell.
std::string GetTimeZoneText();
// "UTC" + sign + whole hours of -biasMinutes, truncated toward zero ("UTC0" for zero).
std::string FormatTimeZone(long biasMinutes);

}  // namespace ZarnSdk
