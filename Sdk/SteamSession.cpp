#include "Sdk/SteamSession.h"

#include <utility>

#include "Sdk/Encoding.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

using zarnplatform::MutexLock;

// "Steam初始化失败，必须先运行 steam 客户端才能开始游戏." (Steam failed to start; the Steam client
// must run before the game can start.)
constexpr GbkText kLogSteamInitFailed{
    "Steam\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA3\xAC\xB1\xD8\xD0\xEB\xCF\xC8\xD4\xCB\xD0\xD0"
    " steam \xBF\xCD\xBB\xA7\xB6\xCB\xB2\xC5\xC4\xDC\xBF\xAA\xCA\xBC\xD3\xCE\xCF\xB7"
    "."};
// "Steam初始化成功，开启异步线程进行steam消息循环..." (Steam started; starting the callback loop thread.)
constexpr GbkText kLogSteamInitOk{
    "Steam\xB3\xF5\xCA\xBC\xBB\xAF\xB3\xC9\xB9\xA6\xA3\xAC\xBF\xAA\xC6\xF4\xD2\xEC\xB2\xBD\xCF\xDF\xB3\xCC\xBD\xF8\xD0\xD0"
    "steam\xCF\xFB\xCF\xA2\xD1\xAD\xBB\xB7"
    "..."};
// "Steam 消息循环 退出" (Steam callback loop ended.)
constexpr GbkText kLogPumpEnded{"Steam \xCF\xFB\xCF\xA2\xD1\xAD\xBB\xB7 \xCD\xCB\xB3\xF6"};
// " Tictket：" (label with a full-width colon)
constexpr GbkText kLogTicketLabel{" Tictket\xA3\xBA"};
// "ticket 已响应，状态：" (ticket answered, status:)
constexpr GbkText kLogTicketAnswered{"ticket \xD2\xD1\xCF\xEC\xD3\xA6\xA3\xAC\xD7\xB4\xCC\xAC\xA3\xBA"};
// "Ticket Response，Session:" (full-width comma)
constexpr GbkText kLogTicketResponse{"Ticket Response\xA3\xAC" "Session:"};
// "Steam Pay Result Callback，AppID:" (full-width comma)
constexpr GbkText kLogPayCallback{"Steam Pay Result Callback\xA3\xAC" "AppID:"};

}  // namespace

SteamSession::~SteamSession() { Exit(); }

bool SteamSession::InitSteam() {
  if (Exited()) return false;
  if (!port_.Start()) {
    LOG(ERROR) << kLogSteamInitFailed;
    return false;
  }
  if (port_.AppId().value_or(0) == 0) {
    LOG(ERROR) << kLogSteamInitFailed << " AppID:0";
    return false;
  }
  {
    MutexLock lock(mutex_);
    // One pump per session, however often start-up is repeated.
    if (pumpStarted_) return true;
    pumpStarted_ = true;
  }
  LOG(INFO) << kLogSteamInitOk;
  if (threads_.Start("Steam callback pump", [this] { TaskSteamCallback(); })) return true;
  LOG(ERROR) << kLogSteamInitFailed << " (no thread)";
  MutexLock lock(mutex_);
  pumpStarted_ = false;
  return false;
}

void SteamSession::TaskSteamCallback() {
  while (!Exited() && port_.RunCallbacks(*this)) {
    // The period on the monotonic clock; Exit cuts it short.
    const auto deadline = std::chrono::steady_clock::now() + timings_.pumpPeriod;
    MutexLock lock(mutex_);
    changed_.WaitUntil(lock, deadline, [this] { return Exited(); });
  }
  LOG(INFO) << kLogPumpEnded;
}

void SteamSession::LoginSteam(uint64_t generation, const GameCallback& callback) {
  // After Exit the Steam library is shut down; the port refuses, and so does this.
  std::optional<SteamTicket> ticket;
  if (!Exited()) {
    ticket = port_.RequestTicket([this](uint32_t handle) {
      MutexLock lock(mutex_);
      awaitedTickets_[handle] = 0;
    });
  }
  if (!ticket) {
    Report(callback, results::kProcessExit);
    return;
  }
  if (ticket->handle == kInvalidTicketHandle) {
    LOG(ERROR) << "Steam Could Not Issue A Ticket.";
    Report(callback, results::kTicketAuthFailure);
    return;
  }
  std::string steamId = std::to_string(ticket->steamId);
  std::string ticketHex = HexLower(ticket->bytes);
  const uint32_t handle = ticket->handle;
  LOG(INFO) << "loginSteam Session:" << handle << kLogTicketLabel << Secret{ticketHex};
  if (threads_.Start("Login ticket wait", [this, steamId = std::move(steamId), handle, ticketHex = std::move(ticketHex),
                                   generation, callback] {
        TaskCheckSteamAuth(steamId, handle, ticketHex, generation, callback);
      })) {
    return;
  }
  // Nobody can wait for the answer: the game hears that the ticket was never confirmed.
  TakeTicketResult(handle, true);
  Report(callback, results::kTicketTimeout);
}

void SteamSession::TaskCheckSteamAuth(const std::string& steamId, uint32_t handle, const std::string& ticketHex,
                                      uint64_t generation, const GameCallback& callback) {
  int polls = 0;
  int32_t status = 0;
  bool exited = false;
  for (;;) {
    if (Exited()) {
      exited = true;
      break;
    }
    {
      // The poll period on the monotonic clock; Exit cuts it short.
      const auto deadline = std::chrono::steady_clock::now() + timings_.ticketPollPeriod;
      MutexLock lock(mutex_);
      changed_.WaitUntil(lock, deadline, [this] { return Exited(); });
    }
    ++polls;
    status = TakeTicketResult(handle, false);
    if (status != 0) {
      LOG(INFO) << kLogTicketAnswered << status;
      break;
    }
    if (polls >= timings_.ticketMaxPolls) break;
  }
  // The wait is over: its answer is not needed any more.
  TakeTicketResult(handle, true);
  if (exited || Exited()) {
    Report(callback, results::kProcessExit);
  } else if (status == 0) {
    Report(callback, results::kTicketTimeout);
  } else if (status == kSteamResultOk) {
    user_.Login(steamId, ticketHex, generation, callback);
  } else {
    Report(callback, results::kTicketAuthFailure);
  }
}

int32_t SteamSession::TakeTicketResult(uint32_t handle, bool last) {
  MutexLock lock(mutex_);
  const auto it = awaitedTickets_.find(handle);
  if (it == awaitedTickets_.end()) return 0;
  const int32_t result = it->second;
  if (last) awaitedTickets_.erase(it);
  return result;
}

void SteamSession::OnAuthSessionTicketResponse(uint32_t ticketHandle, int32_t result) {
  LOG(INFO) << kLogTicketResponse << ticketHandle << ", eResult:" << result;
  MutexLock lock(mutex_);
  const auto it = awaitedTickets_.find(ticketHandle);
  if (it != awaitedTickets_.end() && it->second == 0) it->second = result;
}

void SteamSession::OnMicroTxnAuthorizationResponse(uint32_t appId, uint64_t orderId, bool authorized) {
  const std::string flag = authorized ? "1" : "0";
  const std::string order = std::to_string(orderId);
  LOG(INFO) << kLogPayCallback << appId << ", Authorized:" << flag << ", SteamOrderID:" << order;
  pay_.PayResult(appId, flag, order);
}

void SteamSession::Exit() {
  isExit_.store(true);
  port_.Shutdown();
  {
    MutexLock lock(mutex_);
    changed_.NotifyAll();
  }
  threads_.WaitAll();
}

}  // namespace ZarnSdk
