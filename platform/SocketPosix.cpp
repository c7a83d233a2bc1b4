#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace zarnplatform {

NetworkSession::NetworkSession() = default;
NetworkSession::~NetworkSession() = default;

std::string ResolveIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  int code = getaddrinfo(name.c_str(), nullptr, &hints, &results);
  if (code != 0 || results == nullptr) {
    if (results != nullptr) freeaddrinfo(results);
    // 错误 (error), then the resolver's code and its text
    throw std::runtime_error("\xe9\x94\x99\xe8\xaf\xaf" + std::to_string(code) + gai_strerror(code));
  }
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(results->ai_addr);
  const char* formatted = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
  freeaddrinfo(results);
  return formatted != nullptr ? std::string(text) : std::string();
}

bool ParseIpv4(const std::string& text, std::uint32_t& networkOrderAddress) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
  networkOrderAddress = address.s_addr;
  return true;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open() {
  Close();
#ifdef SOCK_CLOEXEC
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0) return errno;
#else
  socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket_ < 0) return errno;
  fcntl(socket_, F_SETFD, FD_CLOEXEC);
  int flags = fcntl(socket_, F_GETFL, 0);
  if (flags < 0 || fcntl(socket_, F_SETFL, flags | O_NONBLOCK) < 0) {
    int error = errno;
    Close();
    return error;
  }
#endif
  int one = 1;
#ifdef SO_NOSIGPIPE
  setsockopt(socket_, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
  // The TLS handshake's last flight and the request are two small writes in a row: with Nagle
  // the second waits for the server's delayed ACK, 40 ms on every request.
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return 0;
}

int TcpSocket::StartConnect(std::uint32_t networkOrderAddress, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = networkOrderAddress;
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  // An interrupted connect goes on in the background, just like a pending one.
  if (errno == EINPROGRESS || errno == EINTR) return kConnectPending;
  return errno;
}

int TcpSocket::ConnectError() const {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

Readiness TcpSocket::Wait(WaitFor what, int timeoutMs) const {
  pollfd entry{};
  entry.fd = socket_;
  entry.events = what == WaitFor::Read ? POLLIN : POLLOUT;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int result = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result > 0) return Readiness::Ready;
    if (result == 0) return Readiness::TimedOut;
    if (errno != EINTR) return Readiness::Failed;
  }
}

IoResult TcpSocket::Send(const char* data, std::size_t size) {
#ifdef MSG_NOSIGNAL
  constexpr int kFlags = MSG_NOSIGNAL;
#else
  constexpr int kFlags = 0;  // SO_NOSIGPIPE, set in Open
#endif
  for (;;) {
    ssize_t sent = ::send(socket_, data, size, kFlags);
    if (sent > 0) return {IoStatus::Done, static_cast<std::size_t>(sent), 0};
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, sent < 0 ? errno : EPIPE};
  }
}

IoResult TcpSocket::Receive(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t received = ::recv(socket_, buffer, size, 0);
    if (received > 0) return {IoStatus::Done, static_cast<std::size_t>(received), 0};
    if (received == 0) return {IoStatus::Closed, 0, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WouldBlock, 0, 0};
    return {IoStatus::Failed, 0, errno};
  }
}

void TcpSocket::Close() {
  if (socket_ != kInvalidSocket) {
    ::close(socket_);
    socket_ = kInvalidSocket;
  }
}

int LastSocketError() { return errno; }

void BlockSigpipeOnThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SigpipeGuard::SigpipeGuard() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, &oldMask_);
}

SigpipeGuard::~SigpipeGuard() {
  // Take off a SIGPIPE our writes raised, but never one that was pending before we came.
  if (!wasPending_) {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&only, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
}

}  // namespace zarnplatform
