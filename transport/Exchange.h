// One request/reply exchange over a fresh connection: the network half of Request::Send.
#pragma once

#include "transport/Request.h"
#include "transport/Response.h"

namespace sion {

// Connects to the request's server (or proxy), writes the request built by BuildMessage over
// plain TCP or verified TLS, reads the whole reply and closes the connection. Sets
// `request.ip` and fills `request.message`. Throws sion::Error, std::invalid_argument
// (address) or std::runtime_error (network start-up, lookup); Send turns them all into
// sion::Error. Every resource is released on every path.
Response Exchange(Request& request);

}  // namespace sion
