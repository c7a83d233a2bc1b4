#include "transport/Exchange.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>

#include "platform/Socket.h"
#include "transport/ConnectionPool.h"
#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/PlainStream.h"
#include "transport/ProxyTunnel.h"
#include "transport/ResponseReader.h"
#include "transport/SocketWait.h"
#include "transport/TlsStream.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// One TLS record's worth: a reply is read in a handful of calls.
constexpr std::size_t kReadBufferBytes = 16 * 1024;

bool HasAsciiLetter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

std::string AddressOf(const std::string& name) { return HasAsciiLetter(name) ? zarnplatform::ResolveIpv4(name) : name; }

// Connects to the server, or to `proxy` when one carries the request: then the server's name is
// the proxy's to look up.
void Connect(Request& request, zarnplatform::TcpSocket& socket, const ProxyEndpoint* proxy) {
  std::string proxyIp;
  std::string target;
  int32_t targetPort = request.port;
  if (proxy != nullptr) {
    proxyIp = AddressOf(proxy->host);
    target = proxyIp;
    targetPort = proxy->port;
  } else {
    request.ip = AddressOf(request.host);
    target = request.ip;
  }
  std::uint32_t address = 0;
  if (!zarnplatform::ParseIpv4(target, address)) throw std::invalid_argument(messages::kAddressError);

  if (const int error = socket.Open(); error != 0) throw Error(messages::kSocketError + std::to_string(error));
  int error = socket.StartConnect(address, static_cast<std::uint16_t>(targetPort));
  if (error == zarnplatform::TcpSocket::kConnectPending) {
    AwaitSocket(socket, zarnplatform::WaitFor::Connect, GetTransportTimeouts().connect,
                proxy != nullptr ? proxy->host : request.host);
    error = socket.ConnectError();
  }
  if (error == 0) return;

  std::string text = std::string(messages::kConnectFailed) + "\n";
  text += "Host:" + request.host + "\n";
  if (proxy != nullptr) {
    text += "Proxy IP:" + proxyIp + "\n";
    text += "Proxy Host:" + proxy->host + "\n";
  } else {
    text += "Ip:" + request.ip + "\n";
  }
  text += messages::kErrorCode + std::to_string(error);
  throw Error(text, proxy != nullptr ? FailureKind::Proxy : FailureKind::Other);
}

std::optional<ProxyEndpoint> ProxyOf(const Request& request) {
  return request.proxies != nullptr ? request.proxies->For(request.protocol, request.host) : std::nullopt;
}

// "https://host:443": where a kept connection may serve the next request; through a proxy, the
// proxy is named too.
std::string OriginOf(const Request& request) {
  std::string origin = request.protocol + "://" + request.host + ":" + std::to_string(request.port);
  if (const auto proxy = ProxyOf(request)) origin += " via " + proxy->host + ":" + std::to_string(proxy->port);
  return origin;
}

std::unique_ptr<Connection> Open(Request& request, ConnectionPool* pool, const std::string& origin) {
  auto connection = std::make_unique<Connection>();
  const std::optional<ProxyEndpoint> proxy = ProxyOf(request);
  Connect(request, connection->socket, proxy ? &*proxy : nullptr);
  if (proxy) OpenTunnel(connection->socket, *proxy, request.host, request.port);
  connection->ip = request.ip;
  if (request.protocol == "http") {
    connection->stream = std::make_unique<PlainStream>(connection->socket, request.host);
    return connection;
  }
  std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)> resume(
      pool != nullptr ? pool->TakeSession(origin) : nullptr, SSL_SESSION_free);
  TlsSessionSink sink;
  if (pool != nullptr) sink = [pool, origin](SSL_SESSION* session) { pool->KeepSession(origin, session); };
  auto stream = std::make_unique<TlsStream>(connection->socket, request.host, resume.get(), std::move(sink));
  stream->Handshake();
  connection->stream = std::move(stream);
  return connection;
}

// Writes the request and reads its whole reply. `replyStarted` turns true with the first byte
// of the reply, so a caller can tell a connection that was already gone from a failed reply.
Response Transact(Connection& connection, const Request& request, bool& replyStarted, bool& reusable) {
  ByteStream& stream = *connection.stream;
  stream.WriteAll(request.message.data(), request.message.size());
  std::vector<char> buffer(kReadBufferBytes);
  ResponseReader reader;
  for (;;) {
    const std::size_t count = stream.ReadSome(buffer.data(), buffer.size());
    if (count == 0) {
      reader.FeedEnd();
      break;
    }
    replyStarted = true;
    if (reader.Feed(buffer.data(), count)) break;
  }
  reusable = reader.ConnectionReusable();
  return reader.Take();
}

// Runs the exchange on `connection`, then keeps the connection for the next request when the
// reply allows it, else closes it. On failure the connection is closed without ceremony.
Response Run(std::unique_ptr<Connection> connection, const Request& request, ConnectionPool* pool,
             const std::string& origin, bool& replyStarted) {
  bool reusable = false;
  Response reply = Transact(*connection, request, replyStarted, reusable);
  if (pool != nullptr && reusable && !request.header.HasOption("Connection", "close")) {
    pool->Put(origin, std::move(connection));
  } else {
    connection->finish = true;
  }
  return reply;
}

}  // namespace

Response Exchange(Request& request) {
  const ScopedExchangeDeadline limit(std::chrono::steady_clock::now() + GetTransportTimeouts().total);
  zarnplatform::NetworkSession session;
  // OpenSSL writes with plain send(), which raises SIGPIPE on a closed connection.
  std::optional<zarnplatform::SigpipeGuard> noSigpipe;
  if (request.protocol == "https") noSigpipe.emplace();
  ConnectionPool* const pool = CurrentConnectionPool();
  const std::string origin = OriginOf(request);
  request.BuildMessage();

  if (std::unique_ptr<Connection> kept = pool != nullptr ? pool->Take(origin) : nullptr) {
    request.ip = kept->ip;
    bool replyStarted = false;
    try {
      return Run(std::move(kept), request, pool, origin, replyStarted);
    } catch (const WaitEnded&) {
      throw;
    } catch (const NothingSent&) {
      // The connection was gone before it took the request: the server never saw it.
    } catch (const Error&) {
      // Servers close connections idle for a while, and one may have closed this one as the
      // request went out. Or it read the request, acted on it and failed before answering:
      // nothing tells the two apart, so only a request the server recognises when it comes
      // again goes once more.
      if (replyStarted || !request.repeatable) throw;
    }
  }
  bool replyStarted = false;
  return Run(Open(request, pool, origin), request, pool, origin, replyStarted);
}

}  // namespace sion
