// A verified TLS client connection over a connected, non-blocking socket, as a ByteStream.
// Borrows the socket, which must outlive it; owns its SSL object. One thread at a time.
#pragma once

#include <openssl/ssl.h>

#include <string>

#include "platform/Socket.h"
#include "transport/ByteStream.h"
#include "transport/TlsClientContext.h"

namespace sion {

class TlsStream : public ByteStream {
 public:
  // Prepares the session for `host`: SNI for a name, and the check that the certificate
  // matches the name or the IPv4 or IPv6 address. `resume` (borrowed, may be null) is a session of an
  // earlier connection to the same server to offer for resumption; `sink` receives the
  // sessions the server grants on this connection. Throws sion::Error "openssl初始化异常".
  TlsStream(zarnplatform::TcpSocket& socket, std::string host, SSL_SESSION* resume = nullptr,
            TlsSessionSink sink = {});
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Runs the handshake, verifying the server's chain and name. Throws sion::Error
  // "TLS握手失败:" + OpenSSL's reason (the verification error text when verification failed),
  // or the time-out message.
  void Handshake();

  void WriteAll(const char* data, std::size_t size) override;
  std::size_t ReadSome(char* buffer, std::size_t capacity) override;
  bool StillIdle() noexcept override;
  void Finish() noexcept override;

 private:
  // Waits as OpenSSL asks after a non-blocking call returned `result`; false when the call
  // failed for good (its error is then in `error`).
  bool AwaitRetry(int result, int& error);

  zarnplatform::TcpSocket& socket_;
  std::string host_;
  TlsSessionSink sink_;  // the SSL object's app data points here
  SSL* ssl_ = nullptr;
  bool failed_ = false;
};

}  // namespace sion
