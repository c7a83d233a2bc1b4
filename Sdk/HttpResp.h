#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "transport/Error.h"

namespace ZarnSdk {

// A server reply as every feature sees it: the envelope's code and message, and the whole
// reply body as `data`; or a local failure (-502 transport/HTTP status, -501 bad envelope)
// with empty data. Texts are UTF-8 as the server or the transport gave them.
struct HttpResp {
  int32_t code = 0;
  std::string msg;
  std::string data;
  // The HTTP status of the reply; 0 when none arrived (the server could not be reached, or the
  // connection failed before a whole reply).
  int32_t httpStatus = 0;
  // With a 429 or 503: the wait the server asked for (Retry-After), when it named one.
  std::optional<std::chrono::seconds> retryAfter;
  // With -502: what failed - the transport's kind when no reply came, HttpStatus for a reply
  // whose status is not 200. nullopt otherwise.
  std::optional<sion::FailureKind> failure;
  // `data` as the gateway parsed it, so that the call's reply reader need not parse it again.
  std::shared_ptr<const nlohmann::json> document;
};

using HttpCallback = std::function<void(HttpResp)>;

}  // namespace ZarnSdk
