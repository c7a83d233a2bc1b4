#include "Sdk/ZarnApi.h"

#include <openssl/evp.h>

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "Sdk/Encoding.h"
#include "transport/TlsClientContext.h"

namespace ZarnSdk {
namespace {

// One form parameter as sent. Keys are literals of the call table; values are raw UTF-8.
struct FormParam {
  std::string_view key;
  std::string value;
};

using FormParams = std::vector<FormParam>;

// The bytes that would change the meaning of an x-www-form-urlencoded body ("%" so that an
// escape in a value is not decoded, "+" so that it is not read as a space). Every other byte,
// spaces and non-ASCII included, goes out unchanged: the server reads those raw.
std::string EncodeFormValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '%' || c == '&' || c == '=' || c == '+') {
      static constexpr char kUpperHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kUpperHex[byte >> 4];
      out += kUpperHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string JoinForm(const FormParams& params) {
  std::string out;
  for (const FormParam& p : params) {
    if (!out.empty()) out += '&';
    out.append(p.key);
    out += '=';
    out += EncodeFormValue(p.value);
  }
  return out;
}

// 32 lower-case hex digits; empty only when the MD5 implementation is unavailable (the server
// then refuses the request like any other bad signature).
std::string Md5Hex(std::string_view bytes) {
  sion::EnsureOpenSslInitialised();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  return HexLower(std::string_view(reinterpret_cast<const char*>(digest), length));
}

// {"merId":"<steamAppId>"}
std::string MerchantExtra(const GlobalParams& g) { return CompactJson({{"merId", g.steamAppId}}); }

std::string ValueOf(const FormValues& values, std::string_view key) {
  for (const auto& [k, v] : values) {
    if (k == key) return v;
  }
  return {};
}

}  // namespace

std::string TrimOrigin(std::string origin) {
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  return origin;
}

std::shared_ptr<const reply::Json> ReplyDocument(const HttpResp& resp) {
  if (resp.document) return resp.document;
  std::optional<reply::Json> parsed = reply::ParseObject(resp.data);
  if (!parsed) return nullptr;
  return std::make_shared<const reply::Json>(std::move(*parsed));
}

HttpResp UnreadableReply(const HttpResp& resp) {
  HttpResp out;
  out.code = results::kServerJsonParseError.code;
  out.msg = results::kServerJsonParseError.message;
  out.httpStatus = resp.httpStatus;
  return out;
}

std::string ZarnApi::SignedBody(const CallSpec& call, const FormValues& values) const {
  const GlobalParams g = session_.Global();
  FormParams params{{"appId", g.appId},       {"os", g.os},
                    {"sdkVer", g.sdkVer},     {"sdkType", g.sdkType},
                    {"clientId", g.clientId}, {"runPlatform", g.runPlatform},
                    {"gamePlatform", g.gamePlatform}};
  for (const CallParam& p : call.params) {
    switch (p.from) {
      case From::Caller:
        params.push_back({p.key, ValueOf(values, p.key)});
        break;
      case From::Constant:
        params.push_back({p.key, std::string(p.constant)});
        break;
      case From::AppKey:
        params.push_back({p.key, g.appKey});
        break;
      case From::MerchantExtra:
        params.push_back({p.key, MerchantExtra(g)});
        break;
      case From::UserId:
        params.push_back({p.key, session_.Player().userId});
        break;
    }
  }

  std::string signText;
  for (const std::string_view key : call.signedKeys) {
    const FormParam* found = nullptr;
    for (const FormParam& p : params) {
      if (p.key == key) {
        found = &p;
        break;
      }
    }
    if (found != nullptr) {
      signText += found->value;
    } else if (key == "appKey") {
      signText += g.appKey;
    }
  }
  return JoinForm(params) + "&osign=" + Md5Hex(signText);
}

void ZarnApi::Send(const CallSpec& call, std::string body, HttpCallback handler,
                   std::optional<std::chrono::steady_clock::time_point> notBefore) {
  OutgoingRequest request{Url(call), std::move(body), {}, call.lane, notBefore, call.repeatable};
  if (call.document) {
    request.header.Add("Content-Type", "text/plain;charset=UTF-8");
  } else {
    request.header.Add("content-type", "application/x-www-form-urlencoded");
  }
  poster_.Post(std::move(request), std::move(handler));
}

void ZarnApi::PostTrackData(std::string body, HttpCallback handler) {
  Send(calls::kTrackData, std::move(body), std::move(handler), std::nullopt);
}

}  // namespace ZarnSdk
