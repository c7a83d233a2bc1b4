// A connected byte stream (plain TCP or TLS) as the exchange sees it. Owned by one thread.
#pragma once

#include <cstddef>

#include "transport/TransportSettings.h"

namespace sion {

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // The context of the exchange that uses the stream now (its limits and cancel flag); set by
  // the exchange before any other call, again for each request on a kept connection.
  void Use(const TransportContext& context) { context_ = &context; }

  // Writes every byte, waiting while the peer does not take them. Throws sion::Error on a
  // failure or when no byte moves for the write time limit; sion::NothingSent when the
  // connection failed before it took any of `data`.
  virtual void WriteAll(const char* data, std::size_t size) = 0;

  // Reads at least one byte into `buffer`; returns 0 when the peer ended the stream cleanly
  // (TCP end of stream, TLS close_notify). Throws sion::PeerConnectionClose when a TLS peer
  // vanished without closing, and sion::Error on failures and after the read time limit.
  virtual std::size_t ReadSome(char* buffer, std::size_t capacity) = 0;

  // For a connection kept between requests: true when the peer has neither closed it nor sent
  // anything since the last reply, so the next request may go out on it. Never blocks: it
  // looks only at what has already arrived.
  virtual bool StillIdle() noexcept = 0;

  // Ends our side politely where the protocol has a way to (TLS close_notify); never throws.
  virtual void Finish() noexcept = 0;

 protected:
  const TransportContext& Context() const { return *context_; }

 private:
  const TransportContext* context_ = nullptr;
};

}  // namespace sion
