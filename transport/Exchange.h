// One request/reply exchange: the network half of Request::Send.
#pragma once

#include "transport/Request.h"
#include "transport/Response.h"
#include "transport/TransportSettings.h"

namespace sion {

// Builds the request (BuildMessage), writes it over plain TCP or verified TLS to the request's
// server and reads the whole reply, within the context's limits and until its cancel flag. An
// "https" request whose `proxies` name a proxy for its server goes through that proxy's CONNECT
// tunnel (ProxyTunnel.h), TLS and its checks inside it as on a direct connection. Without a
// connection pool in the context it connects afresh and closes afterwards. With one it takes a kept
// connection to the same origin when there is one, keeps the connection afterwards when the
// reply allows it, and new TLS connections resume a kept session. A request whose kept
// connection fails before it took any byte of the request, or a repeatable request whose kept
// connection fails before the first byte of the reply, is sent once more on a new connection;
// nothing else is ever repeated. Sets `request.ip` and fills `request.message`. Throws
// sion::Error, std::invalid_argument (address) or std::runtime_error (network start-up,
// lookup); Send turns them all into sion::Error. Every resource is released on every path.
Response Exchange(Request& request, const TransportContext& context);

}  // namespace sion
