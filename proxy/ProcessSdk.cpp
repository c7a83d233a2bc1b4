#include "proxy/ProcessSdk.h"

#include "transport/ProcessExit.h"

namespace ZarnSdk {
namespace {

SdkInstance* processSdk = nullptr;

// When the library is unloaded or the process exits, the workers are stopped with a bounded
// wait so that the game's exit never hangs.
struct ProcessSdkOwner {
  ProcessSdkOwner() noexcept {
    Guarded("load", [] { processSdk = new SdkInstance(SdkOptions::FromEnvironment()); });
  }
  ~ProcessSdkOwner() {
    if (processSdk != nullptr) processSdk->Pool().StopForUnload(sion::ProcessIsTerminating());
  }
  ProcessSdkOwner(const ProcessSdkOwner&) = delete;
  ProcessSdkOwner& operator=(const ProcessSdkOwner&) = delete;
};
ProcessSdkOwner owner;

}  // namespace

SdkInstance* ProcessSdk() noexcept { return processSdk; }

}  // namespace ZarnSdk
