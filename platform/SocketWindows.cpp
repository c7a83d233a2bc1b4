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

#include <climits>
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

std::string ResolveIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  const int code = getaddrinfo(name.c_str(), nullptr, &hints, &results);
  if (code != 0 || results == nullptr) {
    if (results != nullptr) freeaddrinfo(results);
    // 错误 (error), then the resolver's code and the system's text for it
    throw std::runtime_error("\xe9\x94\x99\xe8\xaf\xaf" + std::to_string(code) + SystemErrorText(code));
  }
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
  const char* formatted = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  freeaddrinfo(results);
  return formatted != nullptr ? std::string(text) : std::string();
}

bool ParseIpv4(const std::string& text, std::uint32_t& networkOrderAddress) {
  IN_ADDR address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
  networkOrderAddress = address.S_un.S_addr;
  return true;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open() {
  Close();
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
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

int TcpSocket::StartConnect(std::uint32_t networkOrderAddress, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.S_un.S_addr = networkOrderAddress;
  if (connect(AsSocket(socket_), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
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

int LastSocketError() { return WSAGetLastError(); }

// Windows has no SIGPIPE: a write to a closed connection fails with an error code.
void BlockSigpipeOnThisThread() {}
SigpipeGuard::SigpipeGuard() = default;
SigpipeGuard::~SigpipeGuard() = default;

}  // namespace zarnplatform
