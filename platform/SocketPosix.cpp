#include "platform/Socket.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
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

namespace {

// Fills `storage` with the socket address of `address` and `port`; its length.
socklen_t ToSockaddr(const IpAddress& address, std::uint16_t port, sockaddr_storage& storage) {
  storage = {};
  if (address.v6) {
    auto& six = reinterpret_cast<sockaddr_in6&>(storage);
    six.sin6_family = AF_INET6;
    six.sin6_port = htons(port);
    std::memcpy(&six.sin6_addr, address.bytes.data(), 16);
    six.sin6_scope_id = address.scope;
    return sizeof six;
  }
  auto& four = reinterpret_cast<sockaddr_in&>(storage);
  four.sin_family = AF_INET;
  four.sin_port = htons(port);
  std::memcpy(&four.sin_addr, address.bytes.data(), 4);
  return sizeof four;
}

void* ThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
  try {
    (*work)();
  } catch (...) {
    // Nobody is left to hear of it; the thread must not end the process.
  }
  return nullptr;
}

// A marker whose address tells dladdr which object this code belongs to.
void KeepThisLibraryMapped() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryMapped), &info) == 0 || info.dli_fname == nullptr) return;
  // Takes a reference the library never gives back and marks it never to be unmapped: a thread
  // left in the resolver returns into this code whenever the resolver lets it.
  if (void* self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) (void)self;
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
  if (inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text) == nullptr) return {};
  return text;
}

std::vector<IpAddress> LookUpName(const std::string& name) {
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
  // 错误 (error), then the resolver's code and its text
  if (code != 0) throw std::runtime_error("\xe9\x94\x99\xe8\xaf\xaf" + std::to_string(code) + gai_strerror(code));
  if (addresses.empty()) throw std::runtime_error("\xe9\x94\x99\xe8\xaf\xaf" + std::to_string(EAI_NONAME) + gai_strerror(EAI_NONAME));
  return addresses;
}

bool StartDetachedThread(std::function<void()> work) {
  static std::once_flag pinned;
  std::call_once(pinned, KeepThisLibraryMapped);
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int result = pthread_create(&thread, &attributes, ThreadEntry, owned.get());
  pthread_attr_destroy(&attributes);
  if (result != 0) return false;
  owned.release();
  return true;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open(bool v6) {
  Close();
  const int family = v6 ? AF_INET6 : AF_INET;
#ifdef SOCK_CLOEXEC
  socket_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket_ < 0) return errno;
#else
  socket_ = ::socket(family, SOCK_STREAM, 0);
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

int TcpSocket::StartConnect(const IpAddress& target, std::uint16_t port) {
  sockaddr_storage address;
  const socklen_t length = ToSockaddr(target, port, address);
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
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

int WaitForAnyConnect(const std::vector<const TcpSocket*>& sockets, int timeoutMs) {
  std::vector<pollfd> entries(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i) entries[i] = {sockets[i]->Native(), POLLOUT, 0};
  if (::poll(entries.data(), entries.size(), timeoutMs) <= 0) return -1;  // EINTR: the caller waits again
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].revents != 0) return static_cast<int>(i);
  }
  return -1;
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
