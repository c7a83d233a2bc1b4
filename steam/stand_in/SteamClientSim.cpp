#include "SteamClientSim.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "CCallbackMgr.h"
#include "OverlayTransactionInbox.h"
#include "TicketGenerator.h"

namespace {

using Clock = PendingCallbackQueue::Clock;

// Valve's value for "no ticket"; the subset header does not declare it.
constexpr HAuthTicket kInvalidTicket = 0;

void WriteErrorMessage(SteamErrMsg* out, const char* text) {
  if (out == nullptr) return;
  std::snprintf(*out, sizeof(SteamErrMsg), "%s", text);
}

// The interface version list is a sequence of NUL-terminated names ended by an empty name.
bool ListsVersion(const char* versions, std::string_view wanted) {
  for (const char* name = versions; *name != '\0'; name += std::strlen(name) + 1) {
    if (wanted == name) return true;
  }
  return false;
}

}  // namespace

SteamClientSim& SteamClientSim::Instance() {
  // Deliberately never destroyed (see the class comment).
  static SteamClientSim* const instance = new SteamClientSim();
  return *instance;
}

ESteamAPIInitResult SteamClientSim::Init(const char* interfaceVersions, SteamErrMsg* errorMessage) {
  // The environment and steam_appid.txt are read before taking the lock: file I/O under it
  // would hold up the game's threads.
  const EnvironmentSettings environment = EnvironmentSettings::Read();

  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_) {
    environment_ = environment;
    if (!SettingsLocked().clientRunning) {
      WriteErrorMessage(errorMessage, "Steam client is not running");
      return k_ESteamAPIInitResult_NoSteamClient;
    }
  }
  if (interfaceVersions == nullptr) {
    WriteErrorMessage(errorMessage, "No interface version list given");
    return k_ESteamAPIInitResult_VersionMismatch;
  }
  for (const char* required : {STEAMUSER_INTERFACE_VERSION, STEAMUTILS_INTERFACE_VERSION}) {
    if (!ListsVersion(interfaceVersions, required)) {
      char text[128];
      std::snprintf(text, sizeof text, "Interface version %s is missing from the version list", required);
      WriteErrorMessage(errorMessage, text);
      return k_ESteamAPIInitResult_VersionMismatch;
    }
  }
  // A second SteamAPI_Init while running succeeds and keeps the session, as with Steam.
  if (!initialised_) {
    initialised_ = true;
    interfaces_.Open();
    ++contextGeneration_;
  }
  WriteErrorMessage(errorMessage, "");
  return k_ESteamAPIInitResult_OK;
}

void SteamClientSim::Shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.Clear();
  if (!initialised_) return;
  initialised_ = false;
  interfaces_.Close();
  ++contextGeneration_;
}

void SteamClientSim::RunCallbacks() {
  const Clock::time_point now = Clock::now();
  TakeOverlayTransactions(now);

  uint64_t sequenceLimit = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) return;
    sequenceLimit = pending_.NextSequence();
  }
  // One callback at a time, each taken under the lock and delivered without it, so a handler
  // that shuts Steam down stops the rest of this pass from being delivered.
  for (;;) {
    std::optional<PendingCallback> next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!initialised_) return;
      next = pending_.PopDue(now, sequenceLimit);
    }
    if (!next) return;
    CCallbackMgr::Instance().Dispatch(next->callbackId, next->Data());
  }
}

void SteamClientSim::TakeOverlayTransactions(Clock::time_point now) {
  SimSettings settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!initialised_) return;
    settings = SettingsLocked();
  }
  if (!settings.transactionDir) return;
  const std::vector<OverlayTransaction> taken =
      OverlayTransactionInbox::Collect(*settings.transactionDir, settings.appId);
  if (taken.empty() || settings.purchase == PurchaseAnswer::Ignore) return;

  std::lock_guard<std::mutex> lock(mutex_);
  // Steam may have been shut down during the scan; its pending callbacks are dropped, and so
  // are these.
  if (!initialised_) return;
  for (const OverlayTransaction& t : taken) {
    MicroTxnAuthorizationResponse_t response{};
    response.m_unAppID = t.appId;
    response.m_ulOrderID = t.orderId;
    response.m_bAuthorized = settings.purchase == PurchaseAnswer::Approve ? 1 : 0;
    pending_.Push(now, response);
  }
}

HSteamUser SteamClientSim::GetHSteamUser() {
  std::lock_guard<std::mutex> lock(mutex_);
  return initialised_ ? kSessionUser : 0;
}

void* SteamClientSim::FindOrCreateUserInterface(HSteamUser user, const char* version) {
  if (version == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_ || user != kSessionUser) return nullptr;
  if (std::strcmp(version, STEAMUSER_INTERFACE_VERSION) == 0) return interfaces_.User();
  if (std::strcmp(version, STEAMUTILS_INTERFACE_VERSION) == 0) return interfaces_.Utils();
  return nullptr;
}

void* SteamClientSim::ContextInit(void* contextInitData) {
  if (contextInitData == nullptr) return nullptr;
  // Valve's layout: a filler function, the generation the cached context was filled in, then the
  // context itself, whose address is the result.
  struct ContextInitHeader {
    void (*fill)(void* context);
    uintptr_t generation;
  };
  auto* header = static_cast<ContextInitHeader*>(contextInitData);
  void* context = static_cast<char*>(contextInitData) + sizeof(ContextInitHeader);

  // The filler calls back into this library (FindOrCreateUserInterface), so `mutex_` must not be
  // held; the recursive context lock keeps two threads from filling the same cache at once.
  std::lock_guard<std::recursive_mutex> contextLock(contextMutex_);
  uintptr_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation = contextGeneration_;
  }
  if (header->generation != generation) {
    if (header->fill != nullptr) header->fill(context);
    header->generation = generation;
  }
  return context;
}

uint64_t SteamClientSim::GetSteamID(const void* self) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_ || !interfaces_.IsUser(self)) return 0;
  return SettingsLocked().steamId;
}

HAuthTicket SteamClientSim::GetAuthSessionTicket(const void* self, void* ticket, int maxTicketBytes,
                                                 uint32_t* ticketBytes) {
  const Clock::time_point requested = Clock::now();
  if (ticketBytes != nullptr) *ticketBytes = 0;
  if (ticket == nullptr || maxTicketBytes < static_cast<int>(kSimTicketSize)) return kInvalidTicket;

  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_ || !interfaces_.IsUser(self)) return kInvalidTicket;
  const SimSettings settings = SettingsLocked();
  // The client quit during the session: no ticket can be issued.
  if (!settings.clientRunning) return kInvalidTicket;
  if (++lastTicketHandle_ == kInvalidTicket) ++lastTicketHandle_;
  const HAuthTicket handle = lastTicketHandle_;
  GenerateTicket(settings.steamId, settings.appId, handle, static_cast<uint8_t*>(ticket), kSimTicketSize);
  if (ticketBytes != nullptr) *ticketBytes = static_cast<uint32_t>(kSimTicketSize);
  if (settings.ticketDelayMs >= 0) {
    GetAuthSessionTicketResponse_t response{};
    response.m_hAuthTicket = handle;
    response.m_eResult = static_cast<EResult>(settings.ticketResult);
    pending_.Push(requested + std::chrono::milliseconds(settings.ticketDelayMs), response);
  }
  return handle;
}

uint32_t SteamClientSim::GetAppID(const void* self) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_ || !interfaces_.IsUtils(self)) return 0;
  return SettingsLocked().appId;
}

bool SteamClientSim::IsOverlayEnabled(const void* self) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialised_ || !interfaces_.IsUtils(self)) return false;
  const SimSettings settings = SettingsLocked();
  return settings.clientRunning && settings.overlayEnabled;
}

void SteamClientSim::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_ = ControlOverrides{};
  pending_.Clear();
}

void SteamClientSim::SetClientRunning(bool running) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_.clientRunning = running;
}

void SteamClientSim::SetAppId(uint32_t appId) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_.appId = appId;
}

void SteamClientSim::SetSteamId(uint64_t steamId) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_.steamId = steamId;
}

void SteamClientSim::SetOverlayEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_.overlayEnabled = enabled;
}

void SteamClientSim::SetTicketResponse(int32_t result, int32_t delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  overrides_.ticketResult = result;
  overrides_.ticketDelayMs = delayMs;
}

void SteamClientSim::PushMicroTxnAuthorization(uint32_t appId, uint64_t orderId, bool authorized) {
  MicroTxnAuthorizationResponse_t response{};
  response.m_unAppID = appId;
  response.m_ulOrderID = orderId;
  response.m_bAuthorized = authorized ? 1 : 0;
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.Push(now, response);
}
