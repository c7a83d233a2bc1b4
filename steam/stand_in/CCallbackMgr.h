// Registry of the callback objects the game registers with SteamAPI_RegisterCallback, and the
// delivery of one callback to every object registered for its id.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "steam/steam_api_subset.h"

// The name is fixed: CCallbackBase befriends CCallbackMgr so that it alone sets and clears the
// registered flag.
//
// Lifetime: one process-wide instance, created on first use (callback objects may register
// during static initialisation of the game, before SteamAPI_Init) and never destroyed, so that
// callback objects destroyed late at process exit can still unregister.
//
// Threads: every operation may be called from any thread. `mutex_` guards the registrations,
// the list of running deliveries and the registered flag of each registered object; it is never
// held while an object's Run executes, so a handler may register, unregister or call any other
// entry point of the library.
class CCallbackMgr {
 public:
  static CCallbackMgr& Instance();

  // Registers `callback` for `callbackId` (an object registered again moves to the new id) and
  // sets its registered flag. The caller keeps ownership; the object must stay alive until it
  // is unregistered.
  void Register(CCallbackBase* callback, int callbackId);

  // Removes `callback` and clears its registered flag. If another thread is running this very
  // object, waits until that Run has returned, so the caller may destroy the object right
  // afterwards. No wait when called from inside a delivery (a handler unregistering itself or
  // another object): that would allow two handlers to wait on each other.
  void Unregister(CCallbackBase* callback);

  // Runs every object registered for `callbackId`, in registration order, on the calling
  // thread, with `payload` (which must match the callback id's structure). Objects registered
  // during the delivery are not run for this payload; objects unregistered during it are
  // skipped if they have not run yet.
  void Dispatch(int callbackId, void* payload);

 private:
  struct Registration {
    CCallbackBase* callback;
    int callbackId;
  };
  struct RunningDelivery {
    CCallbackBase* callback;
    std::thread::id thread;
  };

  CCallbackMgr() = default;
  bool IsRegisteredLocked(const CCallbackBase* callback, int callbackId) const;
  bool IsRunningElsewhereLocked(const CCallbackBase* callback) const;
  bool IsDeliveringOnThisThreadLocked() const;

  std::mutex mutex_;
  std::condition_variable deliveryEnded_;
  std::vector<Registration> registrations_;
  std::vector<RunningDelivery> running_;
};
