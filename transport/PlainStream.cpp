#include "transport/PlainStream.h"

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/SocketWait.h"
#include "transport/TransportSettings.h"

namespace sion {

using zarnplatform::IoStatus;
using zarnplatform::WaitFor;

PlainStream::PlainStream(zarnplatform::TcpSocket& socket, std::string host) : socket_(socket), host_(std::move(host)) {}

void PlainStream::WriteAll(const char* data, std::size_t size) {
  const auto timeout = Context().timeouts.io;
  std::size_t written = 0;
  while (written < size) {
    const zarnplatform::IoResult result = socket_.Send(data + written, size - written);
    switch (result.status) {
      case IoStatus::Done:
        written += result.bytes;
        break;
      case IoStatus::WouldBlock:
        AwaitSocket(socket_, WaitFor::Write, timeout, host_, Context());
        break;
      case IoStatus::Closed:
      case IoStatus::Failed: {
        const std::string text = messages::kSocketError + std::to_string(result.error);
        if (written == 0) throw NothingSent(text);
        throw Error(text);
      }
    }
  }
}

std::size_t PlainStream::ReadSome(char* buffer, std::size_t capacity) {
  const auto timeout = Context().timeouts.io;
  for (;;) {
    const zarnplatform::IoResult result = socket_.Receive(buffer, capacity);
    switch (result.status) {
      case IoStatus::Done:
        return result.bytes;
      case IoStatus::Closed:
        return 0;
      case IoStatus::WouldBlock:
        AwaitSocket(socket_, WaitFor::Read, timeout, host_, Context());
        break;
      case IoStatus::Failed:
        // The receive call's own result, as this message has always carried.
        throw Error(messages::kSocketError + std::string("-1"));
    }
  }
}

bool PlainStream::StillIdle() noexcept {
  // Readable means the peer closed, or sent bytes no request asked for.
  return socket_.Wait(WaitFor::Read, 0) == zarnplatform::Readiness::TimedOut;
}

}  // namespace sion
