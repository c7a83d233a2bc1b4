#include "Sdk/SteamApiPort.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

constexpr int kTicketBufferSize = 4096;

}  // namespace

SteamApiPort::SteamApiPort()
    : authTicketCallback_(this, &SteamApiPort::OnAuthTicket), microTxnCallback_(this, &SteamApiPort::OnMicroTxn) {}

bool SteamApiPort::Start() {
  MutexLock lock(mutex_);
  if (shutdown_) return false;
  if (started_) return true;
  if (!SteamAPI_Init()) return false;
  started_ = true;
  appId_ = SteamAPI_ISteamUtils_GetAppID(SteamUtils());
  return true;
}

std::optional<uint32_t> SteamApiPort::AppId() {
  MutexLock lock(mutex_);
  if (!started_) return std::nullopt;
  return appId_;
}

bool SteamApiPort::RunCallbacks(SteamEvents& events) {
  MutexLock lock(mutex_);
  if (!RunningLocked()) return false;
  events_ = &events;
  SteamAPI_RunCallbacks();
  events_ = nullptr;
  return true;
}

std::optional<SteamTicket> SteamApiPort::RequestTicket(const std::function<void(uint32_t handle)>& issued) {
  MutexLock lock(mutex_);
  if (!RunningLocked()) return std::nullopt;
  ISteamUser* user = SteamUser();
  SteamTicket ticket;
  ticket.steamId = SteamAPI_ISteamUser_GetSteamID(user);
  std::string buffer(kTicketBufferSize, '\0');
  uint32_t size = 0;
  ticket.handle = SteamAPI_ISteamUser_GetAuthSessionTicket(user, buffer.data(), kTicketBufferSize, &size, nullptr);
  buffer.resize(std::min<size_t>(size, buffer.size()));
  ticket.bytes = std::move(buffer);
  // No answer will ever come for an invalid handle (Steam could not issue a ticket).
  if (ticket.handle == kInvalidTicketHandle) return ticket;
  // Answers are delivered only under this lock, so none can come before the caller knows the
  // handle.
  issued(ticket.handle);
  return ticket;
}

bool SteamApiPort::IsOverlayEnabled() {
  MutexLock lock(mutex_);
  if (!RunningLocked()) return false;
  return SteamAPI_ISteamUtils_IsOverlayEnabled(SteamUtils());
}

void SteamApiPort::Shutdown() {
  MutexLock lock(mutex_);
  if (shutdown_) return;
  shutdown_ = true;
  SteamAPI_Shutdown();
}

// Both handlers run inside SteamAPI_RunCallbacks, called above with the lock held.
void SteamApiPort::OnAuthTicket(GetAuthSessionTicketResponse_t* response) {
  mutex_.AssertHeld();
  if (response == nullptr || events_ == nullptr) return;
  events_->OnAuthSessionTicketResponse(response->m_hAuthTicket, static_cast<int32_t>(response->m_eResult));
}

void SteamApiPort::OnMicroTxn(MicroTxnAuthorizationResponse_t* response) {
  mutex_.AssertHeld();
  if (response == nullptr || events_ == nullptr) return;
  events_->OnMicroTxnAuthorizationResponse(response->m_unAppID, response->m_ulOrderID, response->m_bAuthorized != 0);
}

}  // namespace ZarnSdk
