// The SDK's seam to the network: features hand over a request and get the decoded reply later.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "Sdk/HttpResp.h"
#include "transport/Header.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

struct OutgoingRequest {
  std::string url;
  std::string body;
  sion::Header header;  // sent before Host and Content-Length, as given
  // Calls a player waits for go ahead of background work (analytics).
  sion::Lane lane = sion::Lane::Game;
  // Not sent before then (a retry's back-off); at once when empty.
  std::optional<std::chrono::steady_clock::time_point> notBefore;
  // The server recognises this request when it comes again, so the transport may send it once
  // more when a kept connection fails before the reply (sion::Request::repeatable). Never for
  // a request the server would act on twice, such as an order creation.
  bool repeatable = false;
};

class RequestPoster {
 public:
  virtual ~RequestPoster() = default;
  // Returns at once. `done` runs exactly once, on an HTTP worker, with the decoded reply;
  // never when the workers stop before the reply is handled. Called from any thread, holding
  // no lock that the workers need.
  virtual void Post(OutgoingRequest request, HttpCallback done) = 0;
};

}  // namespace ZarnSdk
