#include "tools/mock_backend/ProcessSignals.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace zarnmock {
namespace {

HANDLE stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      SetEvent(stopEvent);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// Windows has no SIGPIPE: a write to a closed socket fails with an error code.
void IgnoreBrokenPipesOnThisThread() {}

void PrepareForStopRequests() {
  // Console control events reach a program only from its own console; a named event
  // "Local\zarn-stop-<process id>" lets a test or script without one ask it to stop as well.
  const std::wstring name = L"Local\\zarn-stop-" + std::to_wstring(GetCurrentProcessId());
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WaitForStopRequest() { WaitForSingleObject(stopEvent, INFINITE); }

}  // namespace zarnmock
