#include "transport/Request.h"

#include <stdexcept>

#include "platform/Socket.h"
#include "transport/Error.h"
#include "transport/Exchange.h"
#include "transport/Messages.h"

namespace sion {
namespace {

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         c == '-';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal text of an int, with the standard library's word for overflow.
int32_t ToPort(const std::string& digits) {
  long long value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) throw std::out_of_range(messages::kNumberOutOfRange);
  }
  return static_cast<int32_t>(value);
}

void CheckPort(int32_t value) {
  if (value < 1 || value > 65535) throw std::out_of_range(messages::kPortOutOfRange + std::to_string(value));
}

}  // namespace

Request& Request::SetUrl(std::string newUrl) {
  url = std::move(newUrl);
  return *this;
}

Request& Request::SetBody(std::string text) {
  body.assign(text.begin(), text.end());
  return *this;
}

Request& Request::SetHeader(const Header& newHeader) {
  header = newHeader;
  return *this;
}

Request& Request::SetMethod(Method newMethod) {
  switch (newMethod) {
    case Method::Get: method = "GET"; break;
    case Method::Post: method = "POST"; break;
  }
  return *this;
}

Request& Request::SetRepeatable(bool canRepeat) {
  repeatable = canRepeat;
  return *this;
}

// Matches ^(http|https)://([\w.-]*):?(\d*)(/?.*)$ by hand: the same groups, without a
// backtracking engine whose recursion grows with the length of the URL. Any line break makes
// the URL invalid, so it can never split the request line.
void Request::ParseUrl(const std::string& target) {
  std::size_t at = 0;
  std::string scheme;
  if (target.rfind("https://", 0) == 0) {
    scheme = "https";
    at = 8;
  } else if (target.rfind("http://", 0) == 0) {
    scheme = "http";
    at = 7;
  } else {
    throw std::invalid_argument(messages::kBadUrl);
  }
  if (target.find_first_of("\r\n", at) != std::string::npos) throw std::invalid_argument(messages::kBadUrl);

  std::string hostText;
  if (at < target.size() && target[at] == '[') {
    // An IPv6 literal (RFC 3986 section 3.2.2): kept without its brackets.
    const std::size_t close = target.find(']', at);
    if (close == std::string::npos) throw std::invalid_argument(messages::kBadUrl);
    hostText = target.substr(at + 1, close - at - 1);
    const auto address = zarnplatform::ParseIpAddress(hostText);
    if (!address || !address->v6) throw std::invalid_argument(messages::kBadUrl);
    at = close + 1;
  } else {
    const std::size_t hostStart = at;
    while (at < target.size() && IsHostChar(target[at])) ++at;
    hostText = target.substr(hostStart, at - hostStart);
  }
  if (at < target.size() && target[at] == ':') ++at;
  const std::size_t portStart = at;
  while (at < target.size() && IsDigit(target[at])) ++at;
  const std::string portText = target.substr(portStart, at - portStart);
  std::string rest = target.substr(at);

  protocol = scheme;
  port = portText.empty() ? (protocol == "https" ? 443 : 80) : ToPort(portText);
  host = std::move(hostText);
  path = rest.empty() ? "/" : std::move(rest);
}

void Request::BuildMessage() {
  // An IPv6 literal goes in brackets, with its port (RFC 9110 section 7.2).
  const bool v6 = host.find(':') != std::string::npos;
  header.Add("Host", v6 ? "[" + host + "]:" + std::to_string(port) : host);
  header.Add("Content-Length", std::to_string(body.size()));
  std::string head = method + " " + path + " " + version + "\r\n";
  for (const auto& [key, value] : header.Fields()) head += key + ": " + value + "\r\n";
  head += "\r\n";
  message.insert(message.end(), head.begin(), head.end());
  message.insert(message.end(), body.begin(), body.end());
}

Response Request::Send(const std::string& target, const TransportContext& context) {
  if (method.empty()) throw std::invalid_argument(messages::kMethodUndefined);
  ParseUrl(target);
  CheckPort(port);
  try {
    return Exchange(*this, context);
  } catch (const Error& e) {
    throw Error(e.what(), e.kind());
  } catch (const std::exception& e) {
    throw Error(e.what());
  } catch (...) {
    throw Error(messages::kUnknownException);
  }
}

}  // namespace sion
