// Exceptions of the HTTP transport. Every failure of Request::Send reaches its caller as a
// sion::Error whose what() is a UTF-8 text meant to be shown or logged as it is.
#pragma once

#include <exception>
#include <string>

namespace sion {

// What kind of failure ended an exchange, so that callers decide about retries by kind rather
// than by reading texts. `HttpStatus` is for a whole reply whose status is not a success; the
// transport itself never throws it.
enum class FailureKind { Other, Resolve, Connect, Proxy, Tls, Timeout, Protocol, Cancelled, HttpStatus };

class Error : public std::exception {
 public:
  Error() = default;
  explicit Error(std::string message, FailureKind kind = FailureKind::Other)
      : message_(std::move(message)), kind_(kind) {}
  const char* what() const noexcept override { return message_.c_str(); }
  FailureKind kind() const noexcept { return kind_; }

 private:
  std::string message_;
  FailureKind kind_ = FailureKind::Other;
};

// The transport stopped waiting: a time limit passed or the worker pool is stopping. Says
// nothing about the connection itself, so it is never a reason to send a request again.
class WaitEnded : public Error {
 public:
  using Error::Error;
};

// A write failed before the connection took any byte of it (with TLS: before a whole record
// went out, which the peer could not have read): nothing of the request reached the server.
class NothingSent : public Error {
 public:
  using Error::Error;
};

// The peer ended the connection before the reply was complete. Deliberately carries no text:
// Send rethrows it as a sion::Error with an empty message.
class PeerConnectionClose : public Error {
 public:
  PeerConnectionClose() = default;
};

}  // namespace sion
