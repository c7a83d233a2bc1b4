#include "Sdk/CZarnHttp.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/RetryAfter.h"
#include "Sdk/ZarnLog.h"
#include "transport/Messages.h"
#include "transport/Request.h"

namespace ZarnSdk {
namespace {

// Log labels, GBK (code page 936) bytes.
// "请求地址：" (request address, full-width colon)
constexpr GbkText kLabelRequestUrl{"\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7\xa3\xba"};
// "请求数据：" (request data, full-width colon)
constexpr GbkText kLabelRequestData{"\xc7\xeb\xc7\xf3\xca\xfd\xbe\xdd\xa3\xba"};
// "请求地址:" (request address, ASCII colon)
constexpr GbkText kLabelReplyUrl{"\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7:"};
// "     响应:" (five spaces, then "response:")
constexpr GbkText kLabelReplyStatus{"     \xcf\xec\xd3\xa6:"};
// "请求结果:" (request result)
constexpr GbkText kLabelReplyBody{"\xc7\xeb\xc7\xf3\xbd\xe1\xb9\xfb:"};

// The status text read as C's atoi reads it (leading blanks, optional sign, leading digits; 0
// when none), without atoi's undefined result on overflow: out-of-range texts saturate, which
// can never be mistaken for 200.
int HttpStatus(const std::string& statusText) {
  const long value = std::strtol(statusText.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The envelope's "code": required, and refused rather than wrapped when it does not fit 32
// bits (a wrapped code could read as 200).
int32_t EnvelopeCode(const reply::Json& envelope) {
  const reply::Json& code = envelope.at("code");
  if (const auto value = reply::IntegerValue<int32_t>(code)) return *value;
  if (code.is_number()) throw std::out_of_range("envelope code out of 32-bit range: " + code.dump());
  // The library's own conversion error carries its usual text.
  return code.get<int32_t>();
}

}  // namespace

HttpResp DecodeReply(const sion::AsyncResponse& response) {
  HttpResp out;
  const std::string& statusText = response.resp.statusCode;
  out.httpStatus = HttpStatus(statusText);
  if (out.httpStatus != 200) {
    if (out.httpStatus == 429 || out.httpStatus == 503) {
      const std::string field = response.resp.header.Get("retry-after");
      if (!field.empty()) out.retryAfter = ParseRetryAfter(field, std::chrono::system_clock::now());
    }
    out.code = results::kHttpFailureCode;
    out.msg = HttpFailureMessage(statusText, response.err);
    out.failure = out.httpStatus == 0 ? response.kind : sion::FailureKind::HttpStatus;
    return out;
  }

  // The whole body: bytes after the JSON value (a zero byte and a second document, say) make
  // the reply unreadable rather than being cut off unseen.
  const std::string body(response.resp.body.begin(), response.resp.body.end());
  try {
    if (const auto refused = reply::RefusedBeforeParsing(body)) throw std::invalid_argument(*refused);
    auto envelope = std::make_shared<const reply::Json>(reply::Json::parse(body));
    out.code = EnvelopeCode(*envelope);
    if (envelope->contains("msg")) {
      out.msg = reply::StringValue(envelope->at("msg"));
    } else if (envelope->contains("message")) {
      out.msg = reply::StringValue(envelope->at("message"));
    }
    out.data = body;
    out.document = std::move(envelope);
  } catch (const std::exception& e) {
    out = HttpResp{results::kBadReplyCode, e.what(), std::string(), out.httpStatus};
  }
  return out;
}

void CZarnHttp::PostCallback(const std::string& url, const std::string& data, HttpCallback callback,
                             const sion::Header* header, sion::Lane lane,
                             std::optional<std::chrono::steady_clock::time_point> notBefore, bool repeatable) {
  sion::Header defaultHeader;
  if (header == nullptr) {
    defaultHeader.Add("content-type", "application/x-www-form-urlencoded");
    header = &defaultHeader;
  }

  // Bodies carry the token, the Steam ticket or the app key: the game's log handler never sees them.
  LOG(INFO) << "\n" << kLabelRequestUrl << url << "\n" << kLabelRequestData << Secret{data} << "\n";

  auto completion = [callback = std::move(callback), url](sion::AsyncResponse response) {
    const int status = HttpStatus(response.resp.statusCode);
    const std::string body = status == 200 ? response.resp.StrBody() : std::string();
    LOG(INFO) << "\n" << kLabelReplyUrl << url << kLabelReplyStatus << status << "\n"
              << GbkText{status == 200 ? kLabelReplyBody.bytes : ""} << Secret{body} << "\n";
    if (!callback) return;
    // Cut short by Exit: the game hears why, not a network failure.
    if (response.err == sion::messages::kCancelled && response.resp.statusCode.empty()) {
      callback(HttpResp{results::kProcessExit.code, results::kProcessExit.message, std::string()});
      return;
    }
    callback(DecodeReply(response));
  };
  // The maker runs inside Submit on this thread, so borrowing `header` is safe.
  auto maker = [&url, &data, header, repeatable]() {
    sion::Request request;
    request.SetUrl(url).SetBody(data).SetHeader(*header).SetMethod(sion::Method::Post).SetRepeatable(repeatable);
    return request;
  };
  if (notBefore) {
    pool_.SubmitAt(*notBefore, std::move(maker), std::move(completion), lane);
  } else {
    pool_.Submit(std::move(maker), std::move(completion), lane);
  }
}

void CZarnHttp::Post(OutgoingRequest request, HttpCallback done) {
  PostCallback(request.url, request.body, std::move(done), request.header.Fields().empty() ? nullptr : &request.header,
               request.lane, request.notBefore, request.repeatable);
}

}  // namespace ZarnSdk
