// One HTTP/1.1 request: its URL, method, header list and body, and Send, which performs the
// whole exchange on the calling thread (plain TCP or verified TLS, through a proxy's tunnel
// where the machine has one), over a kept connection
// when the thread has a connection pool (Exchange.h).
// A Request owns all its members by value and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/Header.h"
#include "transport/ProxyConfig.h"
#include "transport/Response.h"
#include "transport/TransportSettings.h"

namespace sion {

enum class Method : int { Get = 0, Post = 1 };

class Request {
 public:
  std::vector<char> message;     // serialised head plus body, built by BuildMessage
  std::string method;            // "GET", "POST", ...; empty until SetMethod
  std::string path;              // request target (path and query), from the URL
  std::string protocol;          // "http" or "https", from the URL
  std::string ip;                // the address that served, or the proxy that carried it (IPv4 or IPv6 text)
  std::string url;               // the URL as given to SetUrl
  std::string host;              // host part of the URL, without port (an IPv6 literal without brackets)
  std::vector<char> body;
  std::string version = "HTTP/1.1";
  Header header;                 // caller's fields first, then Host and Content-Length
  // Which proxy carries the request (its CONNECT tunnel); null or none for it: direct.
  std::shared_ptr<const ProxyConfig> proxies;
  int32_t port = 80;
  // The server recognises this request when it comes again and acts on it once (RFC 9110
  // section 9.2.2), so it may be sent once more when its kept connection fails before the
  // reply. Otherwise it is repeated only when it cannot have reached the server (Exchange.h).
  bool repeatable = false;

  Request& SetUrl(std::string newUrl);
  Request& SetBody(std::string text);
  Request& SetHeader(const Header& newHeader);
  // A value outside the enumeration leaves `method` unchanged.
  Request& SetMethod(Method newMethod);
  Request& SetRepeatable(bool canRepeat);

  // Checks the method and parses `target` (std::invalid_argument / std::out_of_range, before
  // any network activity), then connects, writes the request and reads the whole reply. Every
  // later failure - network, TLS, time-out, framing - is thrown as sion::Error, of its kind.
  // Blocks the calling thread for at most the context's time limits per step, and until its
  // cancel flag; keeps the connection in the context's pool.
  Response Send(const std::string& target, const TransportContext& context = TransportContext());

  // Fills protocol, host, port and path from `target`; throws std::invalid_argument
  // ("url格式不对或者是用了除http(s)外的协议") or std::out_of_range for an oversized port.
  void ParseUrl(const std::string& target);

  // Appends Host and Content-Length to `header` and the serialised request to `message`.
  void BuildMessage();
};

}  // namespace sion
