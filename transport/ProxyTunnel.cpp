#include "transport/ProxyTunnel.h"

#include <algorithm>
#include <vector>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/PlainStream.h"

namespace sion {
namespace {

// A proxy's answer to CONNECT is a status line and a few fields.
constexpr std::size_t kMaxAnswerBytes = 16 * 1024;

std::string Bracketed(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

[[noreturn]] void Refused(const ProxyEndpoint& proxy, const std::string& detail) {
  throw Error(std::string(messages::kProxyFailed) + Bracketed(proxy.host) + ":" + std::to_string(proxy.port) + " " +
                  detail,
              FailureKind::Proxy);
}

// "HTTP/1.1 407 Proxy Authentication Required" as "407 Proxy Authentication Required"; the
// reason only in printable ASCII, and short, since it reaches the game. Empty when the line is
// not a status line.
std::string Status(const std::string& line) {
  if (line.rfind("HTTP/1.", 0) != 0 || line.size() < 12 || line[8] != ' ') return "";
  const std::string code = line.substr(9, 3);
  if (code.find_first_not_of("0123456789") != std::string::npos || (line.size() > 12 && line[12] != ' ')) return "";
  std::string reason;
  for (std::size_t i = 13; i < line.size() && reason.size() < 64; ++i) {
    if (line[i] >= 0x20 && line[i] < 0x7f) reason += line[i];
  }
  return reason.empty() ? code : code + " " + reason;
}

}  // namespace

void OpenTunnel(zarnplatform::TcpSocket& socket, const ProxyEndpoint& proxy, const std::string& host, int32_t port,
                const TransportContext& context) {
  const std::string authority = Bracketed(host) + ":" + std::to_string(port);
  std::string ask = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (!proxy.authorization.empty()) ask += "Proxy-Authorization: " + proxy.authorization + "\r\n";
  ask += "\r\n";

  PlainStream stream(socket, proxy.host);
  stream.Use(context);
  std::string answer;
  std::size_t headEnd = std::string::npos;
  try {
    stream.WriteAll(ask.data(), ask.size());
    std::vector<char> buffer(2048);
    while ((headEnd = answer.find("\r\n\r\n")) == std::string::npos) {
      if (answer.size() > kMaxAnswerBytes) Refused(proxy, messages::kParseError);
      const std::size_t count = stream.ReadSome(buffer.data(), buffer.size());
      if (count == 0) Refused(proxy, messages::kPeerClosed);
      answer.append(buffer.data(), count);
    }
  } catch (const WaitEnded&) {
    throw;
  } catch (const Error& e) {
    if (e.kind() == FailureKind::Proxy) throw;
    Refused(proxy, e.what());
  }
  const std::string status = Status(answer.substr(0, answer.find("\r\n")));
  if (status.empty()) Refused(proxy, messages::kParseError);
  if (status[0] != '2') Refused(proxy, "HTTP " + status);
  // The server speaks only after our TLS hello: bytes already here came from the proxy.
  if (headEnd + 4 != answer.size()) Refused(proxy, messages::kParseError);
}

}  // namespace sion
