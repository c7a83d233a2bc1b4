// The single gateway between the SDK's features and the HTTP transport: posts a body
// asynchronously on the worker pool and decodes the server's reply envelope into an HttpResp.
// Stateless. The callback runs exactly once on a worker thread (unless the pool stops first).
#pragma once

#include <functional>
#include <string>

#include "Sdk/HttpResp.h"
#include "transport/Header.h"
#include "transport/WorkerPool.h"

namespace ZarnSdk {

class CZarnHttp {
 public:
  // header null: one entry "content-type: application/x-www-form-urlencoded". The list only
  // has to live until PostCallback returns.
  static void PostCallback(const std::string& url, const std::string& data, HttpCallback callback,
                           const sion::Header* header = nullptr);

  // Decodes a transport outcome into the HttpResp a feature sees (exposed for tests).
  static HttpResp DecodeResponse(const sion::AsyncResponse& response);

 private:
  static std::function<void(sion::AsyncResponse)> SionCallback(HttpCallback callback, const std::string& url);
};

}  // namespace ZarnSdk
