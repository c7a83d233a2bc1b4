#include "transport/TlsStream.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <climits>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/SocketWait.h"
#include "transport/TlsClientContext.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// OpenSSL 3 reports a peer that vanished without close_notify as this error; older releases
// as a syscall error without errno.
bool IsUnexpectedEof(int error) {
  if (error == SSL_ERROR_SYSCALL) return ERR_peek_error() == 0;
  if (error == SSL_ERROR_SSL) return ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
  return false;
}

}  // namespace

TlsStream::TlsStream(zarnplatform::TcpSocket& socket, std::string host, SSL_SESSION* resume, TlsSessionSink sink)
    : socket_(socket), host_(std::move(host)), sink_(std::move(sink)) {
  ssl_ = SSL_new(SharedTlsClientContext());
  if (ssl_ == nullptr) throw Error(messages::kOpensslInit);
  bool configured = SSL_set_fd(ssl_, static_cast<int>(socket_.Native())) == 1 && SSL_set_app_data(ssl_, &sink_) == 1;
  // A session the server no longer knows only costs the full handshake it would have had.
  if (resume != nullptr) configured = configured && SSL_set_session(ssl_, resume) == 1;
  if (zarnplatform::ParseIpAddress(host_)) {
    // An address is never sent as SNI; the certificate must name it as an IP SAN.
    configured = configured && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str()) == 1;
  } else {
    configured = configured && SSL_set_tlsext_host_name(ssl_, host_.c_str()) == 1;
    // Names are matched against subjectAltName only: a certificate whose name is only in its
    // subject's common name is refused (RFC 6125, RFC 9110 section 4.3.4).
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    configured = configured && SSL_set1_host(ssl_, host_.c_str()) == 1;
  }
  if (!configured) {
    SSL_free(ssl_);
    ssl_ = nullptr;
    throw Error(messages::kOpensslInit);
  }
}

TlsStream::~TlsStream() { SSL_free(ssl_); }

bool TlsStream::AwaitRetry(int result, int& error) {
  error = SSL_get_error(ssl_, result);
  const auto timeout = Context().timeouts.io;
  if (error == SSL_ERROR_WANT_READ) {
    AwaitSocket(socket_, zarnplatform::WaitFor::Read, timeout, host_, Context());
    return true;
  }
  if (error == SSL_ERROR_WANT_WRITE) {
    AwaitSocket(socket_, zarnplatform::WaitFor::Write, timeout, host_, Context());
    return true;
  }
  failed_ = true;
  return false;
}

void TlsStream::Handshake() {
  for (;;) {
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    if (result == 1) return;
    int error = 0;
    if (AwaitRetry(result, error)) continue;

    std::string reason;
    const long verification = SSL_get_verify_result(ssl_);
    if (verification != X509_V_OK) {
      reason = X509_verify_cert_error_string(verification);
    } else if (const unsigned long code = ERR_peek_last_error(); code != 0) {
      const char* text = ERR_reason_error_string(code);
      if (text != nullptr) {
        reason = text;
      } else {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        reason = buffer;
      }
    } else {
      reason = messages::kPeerClosed;
    }
    ERR_clear_error();
    throw Error(messages::kTlsHandshake + reason, FailureKind::Tls);
  }
}

void TlsStream::WriteAll(const char* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
    const std::size_t left = size - written;
    const int chunk = left > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
    ERR_clear_error();
    // After a retry OpenSSL expects the same buffer and length again; both stay unchanged
    // until it reports progress.
    const int result = SSL_write(ssl_, data + written, chunk);
    if (result > 0) {
      written += static_cast<std::size_t>(result);
      continue;
    }
    int error = 0;
    if (AwaitRetry(result, error)) continue;
    ERR_clear_error();
    // A record counts once all of it went out: part of one is nothing the peer can read.
    const std::string text = messages::kSocketError + std::to_string(result);
    if (written == 0) throw NothingSent(text);
    throw Error(text);
  }
}

std::size_t TlsStream::ReadSome(char* buffer, std::size_t capacity) {
  const int chunk = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
  for (;;) {
    ERR_clear_error();
    const int result = SSL_read(ssl_, buffer, chunk);
    if (result > 0) return static_cast<std::size_t>(result);
    int error = 0;
    if (AwaitRetry(result, error)) continue;
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    const bool vanished = IsUnexpectedEof(error);
    ERR_clear_error();
    if (vanished) throw PeerConnectionClose();
    throw Error(messages::kSocketError + std::to_string(result));
  }
}

bool TlsStream::StillIdle() noexcept {
  // Bytes OpenSSL holds, decrypted or not, are as unexpected as bytes in the socket.
  if (failed_ || SSL_has_pending(ssl_) == 1) return false;
  // A TLS 1.3 server may send session tickets or a key update at any time, also between
  // replies: such records are taken in here. Only application data or the end of the stream
  // make the connection unusable.
  for (int record = 0; record < 8; ++record) {
    switch (socket_.Wait(zarnplatform::WaitFor::Read, 0)) {
      case zarnplatform::Readiness::TimedOut: return true;
      case zarnplatform::Readiness::Failed: return false;
      case zarnplatform::Readiness::Ready: break;
    }
    char byte = 0;
    ERR_clear_error();
    const int result = SSL_read(ssl_, &byte, 1);
    const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl_, result);
    ERR_clear_error();
    if (error != SSL_ERROR_WANT_READ) return false;
    // Part of a record came and OpenSSL took it in: the socket looks quiet again, and what the
    // server is sending shows only once the rest arrives, after the next request went out.
    if (SSL_has_pending(ssl_) == 1) return false;
  }
  return false;
}

void TlsStream::Finish() noexcept {
  // One non-blocking attempt to send close_notify; the socket is closed right after anyway.
  // Kept connections are also closed on threads that do not block SIGPIPE (the game's, at Exit).
  if (ssl_ != nullptr && !failed_) {
    const zarnplatform::SigpipeGuard noSigpipe;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
}

}  // namespace sion
