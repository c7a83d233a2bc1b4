#include "platform/ProcessExit.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace sion {

bool ProcessIsTerminating() noexcept {
  // ntdll's own answer to "is the loader running DLL_PROCESS_DETACH for process exit?"; it is
  // looked up at run time because no import library declares it.
  using ShutdownInProgress = BOOLEAN(NTAPI*)();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  auto query = reinterpret_cast<ShutdownInProgress>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDllShutdownInProgress")));
  return query != nullptr && query() != FALSE;
}

}  // namespace sion
