// Device identity and environment texts.
#pragma once

#include <string>

namespace ZarnSdk {

class ZarnUtils {
 public:
  // The persistent client id: the stored one, else derived from the machine id, else a random
  // UUID; without hyphens. Stored in the shared configuration file; a stored non-empty id is
  // returned without writing. Runs its read-derive-write under the storage lock, so any
  // thread may call it.
  static std::string GetClientId();
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
// The text without any "-": a GUID or UUID text becomes a client id.
std::string RemoveHyphens(std::string text);

}  // namespace ZarnSdk
