#include "Sdk/CZarnHttp.h"

#include <stdexcept>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "Sdk/ZarnLog.h"
#include "proxy/StringConvert.h"
#include "transport/Request.h"

namespace ZarnSdk {
namespace {

// Log labels, GBK (code page 936) bytes.
// "请求地址：" (request address, full-width colon)
constexpr const char* kLabelRequestUrl = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7\xa3\xba";
// "请求数据：" (request data, full-width colon)
constexpr const char* kLabelRequestData = "\xc7\xeb\xc7\xf3\xca\xfd\xbe\xdd\xa3\xba";
// "请求地址:" (request address, ASCII colon)
constexpr const char* kLabelReplyUrl = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7:";
// "     响应:" (five spaces, then "response:")
constexpr const char* kLabelReplyStatus = "     \xcf\xec\xd3\xa6:";
// "请求结果:" (request result)
constexpr const char* kLabelReplyBody = "\xc7\xeb\xc7\xf3\xbd\xe1\xb9\xfb:";

constexpr int32_t kCodeBadEnvelope = -501;
constexpr int32_t kCodeHttpFailure = -502;

// The status text read as C's atoi reads it (leading blanks, optional sign, leading digits; 0
// when none), without atoi's undefined result on overflow: out-of-range texts saturate, which
// can never be mistaken for 200.
int HttpStatus(const std::string& statusText) {
  const long value = std::strtol(statusText.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// The envelope's "code". The JSON library's own conversion accepts every number type and
// booleans (floats truncated toward zero) and throws its type error for anything else; it is
// used for those cases so -501 carries the library's text. Values outside 32 bits are refused
// rather than wrapped or converted with undefined behaviour: a wrapped code could read as 200.
int32_t EnvelopeCode(const nlohmann::json& envelope) {
  const nlohmann::json& code = envelope.at("code");
  bool inRange = true;
  switch (code.type()) {
    case nlohmann::json::value_t::number_integer: {
      const int64_t v = code.get<int64_t>();
      inRange = v >= INT32_MIN && v <= INT32_MAX;
      break;
    }
    case nlohmann::json::value_t::number_unsigned:
      inRange = code.get<uint64_t>() <= static_cast<uint64_t>(INT32_MAX);
      break;
    case nlohmann::json::value_t::number_float: {
      // Truncation toward zero keeps values in (-2^31 - 1, 2^31).
      const double v = code.get<double>();
      inRange = v > -2147483649.0 && v < 2147483648.0;
      break;
    }
    default:
      break;
  }
  if (!inRange) throw std::out_of_range("envelope code out of 32-bit range: " + code.dump());
  return code.get<int32_t>();
}

}  // namespace

void CZarnHttp::PostCallback(const std::string& url, const std::string& data, HttpCallback callback,
                             const sion::Header* header) {
  sion::Header defaultHeader;
  if (header == nullptr) {
    defaultHeader.Add("content-type", "application/x-www-form-urlencoded");
    header = &defaultHeader;
  }

  LOG(INFO) << "\n" << kLabelRequestUrl << url << "\n" << kLabelRequestData << data << "\n";

  // The maker runs inside Submit on this thread, so borrowing `header` is safe.
  sion::WorkerPool::Instance().Submit(
      [&url, &data, header]() {
        sion::Request request;
        request.SetUrl(url).SetBody(data).SetHeader(*header).SetMethod(sion::Method::Post);
        return request;
      },
      SionCallback(std::move(callback), url));
}

HttpResp CZarnHttp::DecodeResponse(const sion::AsyncResponse& response) {
  HttpResp out;
  const std::string& statusText = response.resp.statusCode;
  if (HttpStatus(statusText) != 200) {
    out.code = kCodeHttpFailure;
    out.msg = Utf8ToWide("Http Code:" + statusText + ", Msg:" + response.err);
    return out;
  }

  const std::string body = response.resp.StrBody();
  try {
    const nlohmann::json envelope = nlohmann::json::parse(body);
    out.code = EnvelopeCode(envelope);
    if (envelope.contains("msg")) {
      out.msg = Utf8ToWide(envelope.at("msg").get<std::string>());
    } else if (envelope.contains("message")) {
      out.msg = Utf8ToWide(envelope.at("message").get<std::string>());
    }
    out.data = Utf8ToWide(body);
  } catch (const std::exception& e) {
    out = HttpResp{kCodeBadEnvelope, Utf8ToWide(e.what()), std::wstring()};
  }
  return out;
}

std::function<void(sion::AsyncResponse)> CZarnHttp::SionCallback(HttpCallback callback, const std::string& url) {
  return [callback = std::move(callback), url](sion::AsyncResponse response) {
    const int status = HttpStatus(response.resp.statusCode);
    const std::string logText = status == 200 ? kLabelReplyBody + response.resp.StrBody() : std::string();
    LOG(INFO) << "\n" << kLabelReplyUrl << url << kLabelReplyStatus << status << "\n" << logText << "\n";

    HttpResp resp = DecodeResponse(response);
    if (callback) callback(std::move(resp));
  };
}

}  // namespace ZarnSdk
