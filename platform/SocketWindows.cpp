#include "platform/Socket.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace zarnplatform {
namespace {

// Winsock's start-up failures, in the words the SDK has always used (UTF-8).
const char* StartupFailureText(int result) {
  switch (result) {
    case WSAEINPROGRESS:
      // 正在进行阻塞的 Windows Sockets 1.1 操作 (a blocking Windows Sockets 1.1 operation is in progress)
      return "\xe6\xad\xa3\xe5\x9c\xa8\xe8\xbf\x9b\xe8\xa1\x8c\xe9\x98\xbb\xe5\xa1\x9e\xe7\x9a\x84 Windows Sockets 1.1 "
             "\xe6\x93\x8d\xe4\xbd\x9c";
    case WSAEPROCLIM:
      // 已达到 Windows 套接字实现支持的任务数限制 (the limit of tasks Winsock supports was reached)
      return "\xe5\xb7\xb2\xe8\xbe\xbe\xe5\x88\xb0 Windows \xe5\xa5\x97\xe6\x8e\xa5\xe5\xad\x97\xe5\xae\x9e\xe7\x8e\xb0"
             "\xe6\x94\xaf\xe6\x8c\x81\xe7\x9a\x84\xe4\xbb\xbb\xe5\x8a\xa1\xe6\x95\xb0\xe9\x99\x90\xe5\x88\xb6";
    case WSASYSNOTREADY:
      // 底层网络子系统尚未准备好进行网络通信 (the network subsystem is not ready)
      return "\xe5\xba\x95\xe5\xb1\x82\xe7\xbd\x91\xe7\xbb\x9c\xe5\xad\x90\xe7\xb3\xbb\xe7\xbb\x9f\xe5\xb0\x9a\xe6\x9c\xaa"
             "\xe5\x87\x86\xe5\xa4\x87\xe5\xa5\xbd\xe8\xbf\x9b\xe8\xa1\x8c\xe7\xbd\x91\xe7\xbb\x9c\xe9\x80\x9a\xe4\xbf\xa1";
    case WSAVERNOTSUPPORTED:
      // 此特定 Windows 套接字实现不提供请求的 Windows 套接字支持版本 (version not supported)
      return "\xe6\xad\xa4\xe7\x89\xb9\xe5\xae\x9a Windows \xe5\xa5\x97\xe6\x8e\xa5\xe5\xad\x97\xe5\xae\x9e\xe7\x8e\xb0"
             "\xe4\xb8\x8d\xe6\x8f\x90\xe4\xbe\x9b\xe8\xaf\xb7\xe6\xb1\x82\xe7\x9a\x84 Windows \xe5\xa5\x97\xe6\x8e\xa5"
             "\xe5\xad\x97\xe6\x94\xaf\xe6\x8c\x81\xe7\x89\x88\xe6\x9c\xac";
    default:
      // wsa初始化错误 (Winsock initialisation error)
      return "wsa\xe5\x88\x9d\xe5\xa7\x8b\xe5\x8c\x96\xe9\x94\x99\xe8\xaf\xaf";
  }
}

// The system's text for an error code, as UTF-8 on one line. FormatMessageA would give it in
// the ANSI code page, which the game could not tell from UTF-8.
std::string SystemErrorText(int code) {
  wchar_t buffer[1024] = {};
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                static_cast<DWORD>(sizeof buffer / sizeof buffer[0]), nullptr);
  if (length == 0) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
  return text;
}

SOCKET AsSocket(NativeSocket s) { return static_cast<SOCKET>(s); }

}  // namespace

NetworkSession::NetworkSession() {
  static std::mutex startMutex;
  static bool started = false;
  std::lock_guard<std::mutex> lock(startMutex);
  if (started) return;
  WSADATA data{};
  const int result = WSAStartup(MAKEWORD(2, 0), &data);
  if (result == 0 && LOBYTE(data.wVersion) == 2 && HIBYTE(data.wVersion) == 0) {
    started = true;
    return;
  }
  // Only a start that succeeded may be undone.
  if (result == 0) WSACleanup();
  throw std::runtime_error(StartupFailureText(result));
}

NetworkSession::~NetworkSession() = default;

namespace {

int ToSockaddr(const IpAddress& address, std::uint16_t port, sockaddr_storage& storage) {
  storage = {};
  if (address.v6) {
    auto& six = reinterpret_cast<sockaddr_in6&>(storage);
    six.sin6_family = AF_INET6;
    six.sin6_port = htons(port);
    std::memcpy(&six.sin6_addr, address.bytes.data(), 16);
    six.sin6_scope_id = address.scope;
    return static_cast<int>(sizeof six);
  }
  auto& four = reinterpret_cast<sockaddr_in&>(storage);
  four.sin_family = AF_INET;
  four.sin_port = htons(port);
  std::memcpy(&four.sin_addr, address.bytes.data(), 4);
  return static_cast<int>(sizeof four);
}

struct DetachedWork {
  std::function<void()> work;
  HMODULE module = nullptr;
};

DWORD WINAPI ThreadEntry(void* argument) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<DetachedWork> owned(static_cast<DetachedWork*>(argument));
    module = owned->module;
    try {
      owned->work();
    } catch (...) {
    }
  }
  // Gives the library's reference back without returning into its code, which an unload
  // waiting for this reference may unmap at once.
  FreeLibraryAndExitThread(module, 0);
}

}  // namespace

std::optional<IpAddress> ParseIpAddress(const std::string& text) {
  IpAddress address;
  if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return address;
  address.v6 = true;
  if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

std::string FormatIpAddress(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  // inet_ntop takes a non-const address in older headers.
  auto bytes = address.bytes;
  if (inet_ntop(address.v6 ? AF_INET6 : AF_INET, bytes.data(), text, sizeof text) == nullptr) return {};
  return text;
}

std::vector<IpAddress> LookUpName(const std::string& name) {
  NetworkSession session;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  const int code = getaddrinfo(name.c_str(), nullptr, &hints, &results);
  std::vector<IpAddress> addresses;
  for (const addrinfo* entry = code == 0 ? results : nullptr; entry != nullptr; entry = entry->ai_next) {
    IpAddress address;
    if (entry->ai_family == AF_INET) {
      std::memcpy(address.bytes.data(), &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr, 4);
    } else if (entry->ai_family == AF_INET6) {
      const auto* six = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      address.v6 = true;
      std::memcpy(address.bytes.data(), &six->sin6_addr, 16);
      address.scope = six->sin6_scope_id;
    } else {
      continue;
    }
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
  }
  if (results != nullptr) freeaddrinfo(results);
  const int failure = code != 0 ? code : (addresses.empty() ? WSAHOST_NOT_FOUND : 0);
  // 错误 (error), then the resolver's code and the system's text for it
  if (failure != 0) throw std::runtime_error("\xe9\x94\x99\xe8\xaf\xaf" + std::to_string(failure) + SystemErrorText(failure));
  return addresses;
}

bool StartDetachedThread(std::function<void()> work) {
  auto owned = std::make_unique<DetachedWork>();
  owned->work = std::move(work);
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadEntry),
                          &owned->module)) {
    return false;
  }
  const HMODULE module = owned->module;
  HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, owned.get(), 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(module);
    return false;
  }
  owned.release();
  CloseHandle(thread);
  return true;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open(bool v6) {
  Close();
  SOCKET s = WSASocketW(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return WSAGetLastError();
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    int error = WSAGetLastError();
    closesocket(s);
    return error;
  }
  // The TLS handshake's last flight and the request are two small writes in a row: with Nagle
  // the second waits for the server's delayed ACK on every request.
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  socket_ = static_cast<NativeSocket>(s);
  return 0;
}

int TcpSocket::StartConnect(const IpAddress& target, std::uint16_t port) {
  sockaddr_storage address;
  const int length = ToSockaddr(target, port, address);
  if (connect(AsSocket(socket_), reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK ? kConnectPending : error;
}

int TcpSocket::ConnectError() const {
  int error = 0;
  int length = sizeof error;
  if (getsockopt(AsSocket(socket_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return WSAGetLastError();
  }
  return error;
}

Readiness TcpSocket::Wait(WaitFor what, int timeoutMs) const {
  // select, not WSAPoll: WSAPoll of older Windows never reports a failed connect.
  fd_set primary;
  fd_set failed;
  FD_ZERO(&primary);
  FD_ZERO(&failed);
  FD_SET(AsSocket(socket_), &primary);
  FD_SET(AsSocket(socket_), &failed);
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  // Null sets are skipped; a set that is passed must hold a socket.
  fd_set* readSet = what == WaitFor::Read ? &primary : nullptr;
  fd_set* writeSet = what == WaitFor::Read ? nullptr : &primary;
  fd_set* exceptSet = what == WaitFor::Connect ? &failed : nullptr;
  const int result = select(0, readSet, writeSet, exceptSet, &limit);
  if (result > 0) return Readiness::Ready;
  if (result == 0) return Readiness::TimedOut;
  return Readiness::Failed;
}

IoResult TcpSocket::Send(const char* data, std::size_t size) {
  const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  const int sent = send(AsSocket(socket_), data, chunk, 0);
  if (sent > 0) return {IoStatus::Done, static_cast<std::size_t>(sent), 0};
  if (sent == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, error};
  }
  return {IoStatus::Failed, 0, WSAECONNRESET};
}

IoResult TcpSocket::Receive(char* buffer, std::size_t size) {
  const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  const int received = recv(AsSocket(socket_), buffer, chunk, 0);
  if (received > 0) return {IoStatus::Done, static_cast<std::size_t>(received), 0};
  if (received == 0) return {IoStatus::Closed, 0, 0};
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
  return {IoStatus::Failed, 0, error};
}

void TcpSocket::Close() {
  if (socket_ != kInvalidSocket) {
    closesocket(AsSocket(socket_));
    socket_ = kInvalidSocket;
  }
}

int WaitForAnyConnect(const std::vector<const TcpSocket*>& sockets, int timeoutMs) {
  // select, as in Wait: a failed connect shows in the exception set.
  fd_set written;
  fd_set failed;
  FD_ZERO(&written);
  FD_ZERO(&failed);
  for (const TcpSocket* socket : sockets) {
    FD_SET(AsSocket(socket->Native()), &written);
    FD_SET(AsSocket(socket->Native()), &failed);
  }
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  if (sockets.empty() || select(0, nullptr, &written, &failed, &limit) <= 0) return -1;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const SOCKET s = AsSocket(sockets[i]->Native());
    if (FD_ISSET(s, &written) || FD_ISSET(s, &failed)) return static_cast<int>(i);
  }
  return -1;
}

int LastSocketError() { return WSAGetLastError(); }

// Windows has no SIGPIPE: a write to a closed connection fails with an error code.
void BlockSigpipeOnThisThread() {}
SigpipeGuard::SigpipeGuard() = default;
SigpipeGuard::~SigpipeGuard() = default;

}  // namespace zarnplatform
