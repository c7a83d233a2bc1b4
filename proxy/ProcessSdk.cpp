#include "proxy/ProcessSdk.h"

#include <atomic>
#include <cstdlib>

#include "Sdk/ZarnLog.h"
#include "platform/Platform.h"
#include "platform/ProcessExit.h"

namespace ZarnSdk {
namespace {

SdkInstance* processSdk = nullptr;
unsigned long creatorProcess = 0;

// A child made by fork() has a copy of the SDK's memory but none of its threads, and shares the
// parent's files and connections: there the SDK stays inert.
bool InForkedChild() { return creatorProcess != zarnplatform::CurrentProcessId(); }

// Once: from the exit handler registered by PinProcessSdk, else from the unload. The logger goes
// last, after the threads that could be stopped in time wrote their last lines; a game callback
// still running on a worker then logs nothing when it returns.
void StopForUnload() {
  static std::atomic<bool> stopped{false};
  if (InForkedChild() || stopped.exchange(true)) return;
  const bool terminating = sion::ProcessIsTerminating();
  if (processSdk != nullptr) processSdk->StopForUnload(terminating);
  StopLoggingForExit(terminating);
}

// When the library is unloaded or the process exits, the workers are stopped with a bounded
// wait so that the game's exit never hangs.
struct ProcessSdkOwner {
  ProcessSdkOwner() noexcept {
    creatorProcess = zarnplatform::CurrentProcessId();
    zarnplatform::Guarded("load", [] { processSdk = new SdkInstance(SdkOptions::FromEnvironment()); });
  }
  ~ProcessSdkOwner() { StopForUnload(); }
  ProcessSdkOwner(const ProcessSdkOwner&) = delete;
  ProcessSdkOwner& operator=(const ProcessSdkOwner&) = delete;
};
ProcessSdkOwner owner;

}  // namespace

SdkInstance* ProcessSdk() noexcept { return processSdk; }

bool ProcessSdkIsInert() noexcept { return InForkedChild(); }

void PinProcessSdk() noexcept {
  // Once the SDK runs threads, unloading its code would pull it from under them.
  static const bool pinned = [] {
    zarnplatform::PinModuleContaining(reinterpret_cast<const void*>(&PinProcessSdk));
    // Registered now, after the library's own globals (the logger among them) were built, so
    // it runs before they are destroyed at the process's exit: the SDK's threads end and the
    // undelivered events are kept while logging and files still work.
    std::atexit(StopForUnload);
    return true;
  }();
  (void)pinned;
}

}  // namespace ZarnSdk
