// The operating system's TCP sockets, as the HTTP transport needs them: per-request network
// start-up, name lookup for both address families, and non-blocking IPv4 or IPv6 stream sockets
// with waits that take a time limit. One implementation file per OS (SocketPosix.cpp,
// SocketWindows.cpp).
//
// Texts are UTF-8. Nothing here keeps state between calls; a TcpSocket belongs to one thread
// at a time. Failures are returned as OS error codes, except where a function says it throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

namespace zarnplatform {

#ifdef _WIN32
using NativeSocket = std::uintptr_t;  // SOCKET
inline constexpr NativeSocket kInvalidSocket = ~static_cast<NativeSocket>(0);
#else
using NativeSocket = int;
inline constexpr NativeSocket kInvalidSocket = -1;
#endif

// Makes sure the OS network stack is up for a request: Winsock 2.0 is started by the first
// session of the process and stays started until the process ends (a start and cleanup per
// request raced under wine: one request's cleanup closed another's socket); nothing on other
// systems. Throws std::runtime_error with the failure text while Winsock cannot start.
class NetworkSession {
 public:
  NetworkSession();
  ~NetworkSession();
  NetworkSession(const NetworkSession&) = delete;
  NetworkSession& operator=(const NetworkSession&) = delete;
};

// An IPv4 or IPv6 address, in network byte order (IPv4: the first four bytes).
struct IpAddress {
  bool v6 = false;
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t scope = 0;  // IPv6 link-local zone, as the resolver gave it
  bool operator==(const IpAddress&) const = default;
};

// Dotted IPv4 or IPv6 text (without brackets) to an address; nullopt when it is neither.
std::optional<IpAddress> ParseIpAddress(const std::string& text);
// The address as text: dotted IPv4, or IPv6 in its shortest form without brackets.
std::string FormatIpAddress(const IpAddress& address);

// Every address of `name` for TCP, both families, in the order the system's resolver sorts them
// (RFC 6724 destination selection), without repeats. Blocks for as long as the system's
// resolver takes: call it on a thread nobody waits for (Resolver.h). Throws std::runtime_error
// with "错误", the resolver's decimal code and the system's text for it.
std::vector<IpAddress> LookUpName(const std::string& name);

// Runs `work` on a new detached thread that keeps this library's code mapped until `work` has
// returned, so that unloading the library while the thread still waits in the system's resolver
// cannot leave it returning into unmapped code. False when no thread could be started.
bool StartDetachedThread(std::function<void()> work);

enum class WaitFor { Read, Write, Connect };
enum class Readiness { Ready, TimedOut, Failed };
enum class IoStatus { Done, WouldBlock, Closed, Failed };

struct IoResult {
  IoStatus status = IoStatus::Failed;
  std::size_t bytes = 0;  // with Done: bytes moved, at least one
  int error = 0;          // with Failed: the OS error code
};

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();  // closes
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Creates a non-blocking, non-inheritable stream socket of the family of IPv4 or IPv6; 0 or
  // the OS error code.
  int Open(bool v6 = false);
  NativeSocket Native() const { return socket_; }

  // Starts connecting; 0 when connected at once, kConnectPending, or the OS error code.
  static constexpr int kConnectPending = -1;
  int StartConnect(const IpAddress& address, std::uint16_t port);
  // After Wait(Connect) returned Ready: 0 when connected, else the OS error code.
  int ConnectError() const;

  // Waits up to `timeoutMs` until the socket can be read, written, or the connect finished
  // (successfully or not). An error state of the socket counts as Ready, so the following
  // call reports it.
  Readiness Wait(WaitFor what, int timeoutMs) const;

  // One non-blocking send; never raises SIGPIPE.
  IoResult Send(const char* data, std::size_t size);
  // One non-blocking receive; Closed when the peer ended its side.
  IoResult Receive(char* buffer, std::size_t size);

  void Close();

 private:
  NativeSocket socket_ = kInvalidSocket;
};

// Waits up to `timeoutMs` until one of `sockets` has finished connecting (successfully or not):
// its index, or -1 when none did in time.
int WaitForAnyConnect(const std::vector<const TcpSocket*>& sockets, int timeoutMs);

// The last OS socket error of this thread (errno, WSAGetLastError).
int LastSocketError();

// Blocks SIGPIPE on the calling thread for the rest of its life (no-op on Windows). For
// threads that write to sockets through libraries that cannot pass MSG_NOSIGNAL (OpenSSL).
void BlockSigpipeOnThisThread();

// While alive, a write on this thread to a connection the peer has closed raises no SIGPIPE:
// the signal is blocked, and one raised meanwhile is taken off the thread before the old mask
// returns. No-op on Windows.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
#ifndef _WIN32
  sigset_t oldMask_;
  bool wasPending_ = false;
#endif
};

}  // namespace zarnplatform
