// The gateway between the SDK's features and the HTTP transport: posts a body on the worker
// pool and decodes the server's reply envelope into an HttpResp. Holds no state of its own.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "Sdk/HttpResp.h"
#include "Sdk/RequestPoster.h"
#include "transport/Header.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

// The reply as a feature sees it: -502 "Http Code:<status>, Msg:<transport text>" unless the
// HTTP status is 200; else the envelope's "code" (an integer, a fraction cut toward zero, a
// boolean as 0/1) and "msg" (else "message"), with the whole body as data; -501 with the JSON
// library's text when the body is not exactly one such envelope (or nests deeper than 64 levels).
HttpResp DecodeReply(const sion::AsyncResponse& response);

class CZarnHttp final : public RequestPoster {
 public:
  explicit CZarnHttp(sion::WorkerPool& pool) : pool_(pool) {}

  // header null: the one field "content-type: application/x-www-form-urlencoded". The list
  // only has to live until PostCallback returns. `repeatable`: see OutgoingRequest.
  void PostCallback(const std::string& url, const std::string& data, HttpCallback callback,
                    const sion::Header* header = nullptr, sion::Lane lane = sion::Lane::Game,
                    std::optional<std::chrono::steady_clock::time_point> notBefore = std::nullopt,
                    bool repeatable = false);

  void Post(OutgoingRequest request, HttpCallback done) override;

 private:
  sion::WorkerPool& pool_;
};

}  // namespace ZarnSdk
