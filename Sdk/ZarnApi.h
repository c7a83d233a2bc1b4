// Builds and sends the server calls of ServerCalls.h: form bodies in their fixed parameter
// order with the MD5 "osign" over each call's own signature list, and the reply read once into
// the call's reply type. Keeps no state between calls: every call copies the global parameters
// once, builds its body on the calling thread and hands it to the request poster; the handler
// later runs once on an HTTP worker.
//
// Form values go out raw except the bytes "%", "&", "=" and "+", which are percent-encoded
// (%25 %26 %3D %2B) so that no value can add or split a parameter; the signature is always over
// the raw values.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Sdk/HttpResp.h"
#include "Sdk/RequestPoster.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ServerCalls.h"
#include "Sdk/SessionState.h"

namespace ZarnSdk {

// A call's answer, read once: the reply as the server gave it (`resp.data` its whole text), or a
// local failure; `value` is the reply read into the call's type, whatever its code, when it
// reads (Ok() when the call succeeded). One rule for every call: a
// reply that is not one JSON envelope gives -501 with the JSON parser's text (CZarnHttp), and an
// envelope that is not the call's reply (a member of the wrong type, one it needs missing) gives
// -501 "Server JSON Parse Error."; either with empty data.
template <typename Reply>
struct Answer {
  HttpResp resp;
  std::optional<Reply> value;
  // The value of a reply of code 200; never null then.
  const Reply* Ok() const { return resp.code == results::kSuccess && value ? &*value : nullptr; }
};

// The caller's parameter values by key (From::Caller), raw UTF-8.
using FormValues = std::vector<std::pair<std::string_view, std::string>>;

// "https://host[:port]" without trailing slashes (which would double the path separator).
std::string TrimOrigin(std::string origin);

// The reply's document: the one the gateway parsed, else `resp.data` parsed here (a reply made
// elsewhere); null when it is not a JSON object.
std::shared_ptr<const reply::Json> ReplyDocument(const HttpResp& resp);
// -501 "Server JSON Parse Error." in place of `resp`.
HttpResp UnreadableReply(const HttpResp& resp);

template <typename Reply>
Answer<Reply> ReadAnswer(HttpResp resp) {
  Answer<Reply> answer{std::move(resp), std::nullopt};
  try {
    if (const auto doc = ReplyDocument(answer.resp)) answer.value = Reply::Read(*doc);
  } catch (const reply::Json::exception&) {
    answer.value.reset();
  }
  if (answer.resp.code == results::kSuccess && !answer.value) answer.resp = UnreadableReply(answer.resp);
  return answer;
}

class ZarnApi {
 public:
  ZarnApi(RequestPoster& poster, std::string origin, const SessionState& session)
      : poster_(poster), origin_(TrimOrigin(std::move(origin))), session_(session) {}

  std::string Url(const CallSpec& call) const { return origin_ + std::string(call.path); }

  // Builds `call`'s signed form from the global parameters and `values` on the calling thread and
  // posts it; `handler` runs once, on an HTTP worker, with the answer. With `notBefore` the
  // request waits until then (a retry), its body byte for byte the same.
  template <typename Reply>
  void Post(const ServerCall<Reply>& call, const FormValues& values,
            std::type_identity_t<std::function<void(Answer<Reply>)>> handler,
            std::optional<std::chrono::steady_clock::time_point> notBefore = std::nullopt) {
    Send(call, SignedBody(call, values),
         [handler = std::move(handler)](HttpResp resp) { handler(ReadAnswer<Reply>(std::move(resp))); }, notBefore);
  }

  // The analytics document as it stands (neither form-encoded nor signed), sent with
  // "Content-Type: text/plain;charset=UTF-8".
  void PostTrackData(std::string body, HttpCallback handler);

  // The whole form body of `call` as it would be sent now.
  std::string SignedBody(const CallSpec& call, const FormValues& values) const;

 private:
  void Send(const CallSpec& call, std::string body, HttpCallback handler,
            std::optional<std::chrono::steady_clock::time_point> notBefore);

  RequestPoster& poster_;
  const std::string origin_;
  const SessionState& session_;
};

}  // namespace ZarnSdk
