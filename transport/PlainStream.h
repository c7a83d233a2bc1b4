// A plain TCP connection as a ByteStream. Borrows the socket, which must outlive it.
#pragma once

#include <string>

#include "platform/Socket.h"
#include "transport/ByteStream.h"

namespace sion {

class PlainStream : public ByteStream {
 public:
  // `host` only names the server in time-out messages.
  PlainStream(zarnplatform::TcpSocket& socket, std::string host);

  void WriteAll(const char* data, std::size_t size) override;
  std::size_t ReadSome(char* buffer, std::size_t capacity) override;
  bool StillIdle() noexcept override;
  void Finish() noexcept override {}

 private:
  zarnplatform::TcpSocket& socket_;
  std::string host_;
};

}  // namespace sion
