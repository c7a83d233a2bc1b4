// Waiting for a socket under the transport's time limits and the worker pool's cancel flag.
#pragma once

#include <chrono>
#include <string>

#include "platform/Socket.h"
#include "transport/TransportSettings.h"

namespace sion {

// Returns once `socket` is ready for `what`. Waits in slices of at most 20 ms so that a
// request whose context is cancelled gives up promptly (sion::WaitEnded "请求已取消"). After
// `timeout` without readiness, or at the context's deadline, throws sion::WaitEnded
// "网络超时:" + stage + " " + host, the stage being connect, read or write.
void AwaitSocket(const zarnplatform::TcpSocket& socket, zarnplatform::WaitFor what,
                 std::chrono::milliseconds timeout, const std::string& host, const TransportContext& context);

}  // namespace sion
