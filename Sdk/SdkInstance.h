// The composition root: builds every object of one SDK and hands each its collaborators. The
// exports use one process-wide instance; tests build their own, fresh for each test.
//
// Lock order across the SDK, outermost first (a thread holding one may take only those below
// it; every object's own header says what its lock guards):
//   1. CZarnCore::initMutex_         start-up
//   2. SteamApiPort::mutex_          every Steam call; the Steam handlers run under it
//   3. CZarnPay::mutex_ / ProductCatalogue::mutex_   (never held together)
//      CZarnTrack::refreshMutex_ -> CZarnTrack::mutex_
//   4. ZarnConfigUtils::mutex_       file access
//      EventDelivery::mutex_          (a leaf; never held with the store's)
//   5. SessionState::mutex_, SteamSession::mutex_  (leaves)
//   6. sion::WorkerPool::mutex_      (taken by every post)
//   7. sion::ConnectionPool::mutex_, sion::Resolver::mutex_  (leaves of the transport)
//   and, innermost of all (never held together), the logger's own lock and each
//   zarnplatform::ThreadGroup's (an owner may start a thread under its own lock).
// No lock of the SDK is held while a game callback or the game's log handler runs (a line logged
// under a lock reaches the handler when the thread releases its last, see Sdk/ZarnLog.h) or
// while a request is on the network.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnHttp.h"
#include "Sdk/CZarnPay.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/CZarnUser.h"
#include "Sdk/SessionState.h"
#include "Sdk/SteamPort.h"
#include "Sdk/SteamSession.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnConfigUtils.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

struct SdkOptions {
  // Scheme, host and optional port of the publisher's API server.
  std::string apiOrigin;
  // The folder the SDK's data folder goes into; nullopt for the user's local data folder.
  std::optional<std::string> localDataFolder;
  // Null for the Steam client library itself.
  std::unique_ptr<SteamPort> steam;
  SteamTimings steamTimings;
  int workerCount = sion::WorkerPool::kDefaultThreadCount;
  std::chrono::milliseconds payResultRetryDelay = CZarnPay::kFirstRetryDelay;
  EventDeliveryTimings eventDelivery;
  // How the transport looks names up; empty for the system's resolver (tests put in a name
  // server that never answers).
  sion::NameLookup nameLookup;
  // Starts every thread of the SDK (workers, the Steam pump, ticket waits).
  sion::ThreadLauncher threadLauncher = sion::DefaultThreadLauncher();
  // Reads the machine's proxy settings when the SDK starts (Init); null: every request direct.
  std::function<sion::ProxyConfig()> readProxies;

  // What a game's process uses: the compiled-in origin unless ZARN_SDK_API_ORIGIN names
  // another, and the local data folder unless ZARN_SDK_DATA_HOME names another (absolute).
  static SdkOptions FromEnvironment();
};

class SdkInstance {
 public:
  explicit SdkInstance(SdkOptions options);
  // Exits (when the game did not) and waits for every thread of this SDK.
  ~SdkInstance();
  SdkInstance(const SdkInstance&) = delete;
  SdkInstance& operator=(const SdkInstance&) = delete;

  // For the library's unload or the process's end without Exit: the workers stop (see
  // sion::WorkerPool::StopForUnload) and, unless the process is terminating (its threads are
  // gone), undelivered events are written to the outbox and the delivery thread ends, so no
  // SDK thread writes or logs while the process tears its globals down.
  void StopForUnload(bool processTerminating);

  CZarnCore& Core() { return core_; }
  CZarnPay& Pay() { return pay_; }
  CZarnTrack& Track() { return track_; }

 private:
  // Exit's, and the destructor's: Steam first (its pump and ticket waits post through the
  // workers), then the workers (their replies change the outbox), then event delivery, which
  // writes the outbox once nothing can change it any more. Every thread of these has ended when
  // it returns, but the caller's own. Safe to repeat.
  void StopParts();

  std::unique_ptr<SteamPort> steamPort_;
  ZarnConfigUtils store_;
  SessionState session_;
  sion::WorkerPool pool_;
  CZarnHttp http_;
  ZarnApi api_;
  EventDelivery delivery_;
  CZarnTrack track_;
  CZarnPay pay_;
  CZarnUser user_;
  SteamSession steam_;
  CZarnCore core_;
};

}  // namespace ZarnSdk
