#include "CCallbackMgr.h"

#include <algorithm>
#include <cstdio>
#include <exception>

CCallbackMgr& CCallbackMgr::Instance() {
  // Deliberately never destroyed: callback objects with static storage may unregister while the
  // process's other static objects are being destroyed.
  static CCallbackMgr* const instance = new CCallbackMgr();
  return *instance;
}

void CCallbackMgr::Register(CCallbackBase* callback, int callbackId) {
  if (callback == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(registrations_.begin(), registrations_.end(),
                         [callback](const Registration& r) { return r.callback == callback; });
  if (it != registrations_.end()) {
    registrations_.erase(it);
  }
  registrations_.push_back({callback, callbackId});
  callback->m_iCallback = callbackId;
  callback->m_nCallbackFlags |= CCallbackBase::k_ECallbackFlagsRegistered;
}

void CCallbackMgr::Unregister(CCallbackBase* callback) {
  if (callback == nullptr) return;
  std::unique_lock<std::mutex> lock(mutex_);
  auto it = std::find_if(registrations_.begin(), registrations_.end(),
                         [callback](const Registration& r) { return r.callback == callback; });
  if (it != registrations_.end()) {
    registrations_.erase(it);
    callback->m_nCallbackFlags &= static_cast<uint8_t>(~CCallbackBase::k_ECallbackFlagsRegistered);
  }
  if (!IsDeliveringOnThisThreadLocked()) {
    deliveryEnded_.wait(lock, [&] { return !IsRunningElsewhereLocked(callback); });
  }
}

void CCallbackMgr::Dispatch(int callbackId, void* payload) {
  std::vector<CCallbackBase*> targets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Registration& r : registrations_) {
      if (r.callbackId == callbackId) targets.push_back(r.callback);
    }
  }
  const std::thread::id self = std::this_thread::get_id();
  for (CCallbackBase* target : targets) {
    {
      // An earlier handler of this delivery, or another thread, may have unregistered (and then
      // destroyed) a later target: only objects still registered are touched.
      std::lock_guard<std::mutex> lock(mutex_);
      if (!IsRegisteredLocked(target, callbackId)) continue;
      running_.push_back({target, self});
    }
    try {
      target->Run(payload);
    } catch (const std::exception& e) {
      // The handler belongs to the game; its failure must not unwind through the C interface.
      std::fprintf(stderr, "steam_api64 stand-in: callback %d handler threw: %s\n", callbackId, e.what());
    } catch (...) {
      std::fprintf(stderr, "steam_api64 stand-in: callback %d handler threw\n", callbackId);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = std::find_if(running_.begin(), running_.end(), [&](const RunningDelivery& d) {
        return d.callback == target && d.thread == self;
      });
      if (it != running_.end()) running_.erase(it);
    }
    deliveryEnded_.notify_all();
  }
}

bool CCallbackMgr::IsRegisteredLocked(const CCallbackBase* callback, int callbackId) const {
  return std::any_of(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
    return r.callback == callback && r.callbackId == callbackId;
  });
}

bool CCallbackMgr::IsRunningElsewhereLocked(const CCallbackBase* callback) const {
  const std::thread::id self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(), [&](const RunningDelivery& d) {
    return d.callback == callback && d.thread != self;
  });
}

bool CCallbackMgr::IsDeliveringOnThisThreadLocked() const {
  const std::thread::id self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(),
                     [&](const RunningDelivery& d) { return d.thread == self; });
}
