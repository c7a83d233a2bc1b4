// The HTTP/1.1 CONNECT tunnel through a proxy: after it, the connection leads to the server
// itself, and TLS runs end to end inside it as on a direct connection.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Socket.h"
#include "transport/ProxyConfig.h"
#include "transport/TransportSettings.h"

namespace sion {

// Asks the proxy `proxy`, to which `socket` is connected, for a tunnel to `host`:`port` (IPv6
// without brackets) and reads its answer, under the context's read and write limits, its
// deadline and its cancel flag (sion::WaitEnded). Returns once the proxy answered with
// a 2xx. Any other answer, a closed connection or a reply that is not HTTP throws sion::Error of
// kind FailureKind::Proxy naming the proxy and its status; the proxy's reply is never handed up.
void OpenTunnel(zarnplatform::TcpSocket& socket, const ProxyEndpoint& proxy, const std::string& host, int32_t port,
                const TransportContext& context);

}  // namespace sion
