#include "transport/SocketWait.h"

#include <algorithm>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// How often a network wait looks at its cancel flag: Exit waits for busy workers, and a game
// should not wait long for its Exit.
constexpr std::chrono::milliseconds kSlice{20};

const char* StageName(zarnplatform::WaitFor what) {
  switch (what) {
    case zarnplatform::WaitFor::Connect: return "connect";
    case zarnplatform::WaitFor::Read: return "read";
    case zarnplatform::WaitFor::Write: return "write";
  }
  return "";
}

}  // namespace

void AwaitSocket(const zarnplatform::TcpSocket& socket, zarnplatform::WaitFor what,
                 std::chrono::milliseconds timeout, const std::string& host, const TransportContext& context) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = std::min(Clock::now() + timeout, context.deadline);
  for (;;) {
    if (context.Cancelled()) throw WaitEnded(messages::kCancelled, FailureKind::Cancelled);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      throw WaitEnded(messages::kTimeout + std::string(StageName(what)) + " " + host, FailureKind::Timeout);
    }
    const auto slice = std::min(left, kSlice);
    switch (socket.Wait(what, static_cast<int>(slice.count()))) {
      case zarnplatform::Readiness::Ready:
        return;
      case zarnplatform::Readiness::TimedOut:
        break;
      case zarnplatform::Readiness::Failed:
        throw Error(messages::kSocketError + std::to_string(zarnplatform::LastSocketError()));
    }
  }
}

}  // namespace sion
