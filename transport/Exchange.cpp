#include "transport/Exchange.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/Socket.h"
#include "transport/ConnectionPool.h"
#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/PlainStream.h"
#include "transport/ProxyTunnel.h"
#include "transport/Resolver.h"
#include "transport/ResponseReader.h"
#include "transport/SocketWait.h"
#include "transport/TlsStream.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// One TLS record's worth: a reply is read in a handful of calls.
constexpr std::size_t kReadBufferBytes = 16 * 1024;

using Clock = std::chrono::steady_clock;
using zarnplatform::IpAddress;
using zarnplatform::TcpSocket;

// RFC 8305: a new attempt starts this long after the previous one unless that one failed sooner.
constexpr std::chrono::milliseconds kAttemptDelay{250};
// How often the race looks at the cancel flag.
constexpr std::chrono::milliseconds kSlice{20};

// The addresses of `host` (a name, or a literal address), in the order to try them: the
// families interleaved, starting with the family of the first (RFC 8305 section 4).
std::vector<IpAddress> AddressesOf(const std::string& host, Clock::time_point deadline, const TransportContext& context) {
  if (auto literal = zarnplatform::ParseIpAddress(host)) return {*literal};
  // Only a host with a letter is a name: digits alone ("1234") the resolver would read as an
  // address nobody meant.
  if (std::none_of(host.begin(), host.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); })) {
    throw std::invalid_argument(messages::kAddressError);
  }
  Resolver& resolver = context.resolver != nullptr ? *context.resolver : ProcessResolver();
  std::vector<IpAddress> found = resolver.Resolve(host, deadline, context.cancel);
  std::vector<IpAddress> same, other;
  for (const IpAddress& address : found) (address.v6 == found.front().v6 ? same : other).push_back(address);
  std::vector<IpAddress> ordered;
  for (std::size_t i = 0; i < std::max(same.size(), other.size()); ++i) {
    if (i < same.size()) ordered.push_back(same[i]);
    if (i < other.size()) ordered.push_back(other[i]);
  }
  return ordered;
}

struct Attempt {
  IpAddress address;
  std::unique_ptr<TcpSocket> socket;
  int error = 0;  // once it failed
};

// "Ip:<address>\n错误码：<error>" for every address tried, the first one's in the first place;
// an attempt still under way at the deadline has no error code.
std::string Tried(const std::vector<Attempt>& attempts) {
  std::string text;
  for (const Attempt& attempt : attempts) {
    if (!text.empty()) text += "\n";
    text += "Ip:" + zarnplatform::FormatIpAddress(attempt.address) + "\n" + messages::kErrorCode +
            (attempt.socket ? std::string("-") : std::to_string(attempt.error));
  }
  return text;
}

// Opens a TCP connection to `host`:`port`, racing its addresses (Happy Eyeballs): the first
// connection made wins, the others are closed. The connect limit covers the lookup and the whole
// race. Returns the connected socket and sets `ip` to the address that answered.
std::unique_ptr<TcpSocket> ConnectToOrigin(const std::string& host, int32_t port, std::string& ip,
                                           const TransportContext& context) {
  const Clock::time_point deadline = std::min(Clock::now() + context.timeouts.connect, context.deadline);
  const std::vector<IpAddress> addresses = AddressesOf(host, deadline, context);
  std::vector<Attempt> attempts;
  std::size_t next = 0;
  Clock::time_point nextStart = Clock::now();
  for (;;) {
    if (context.Cancelled()) throw WaitEnded(messages::kCancelled, FailureKind::Cancelled);
    const Clock::time_point now = Clock::now();
    const bool pending = std::any_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.socket != nullptr; });
    if (next < addresses.size() && (now >= nextStart || !pending)) {
      Attempt attempt{addresses[next++], std::make_unique<TcpSocket>()};
      attempt.error = attempt.socket->Open(attempt.address.v6);
      if (attempt.error == 0) attempt.error = attempt.socket->StartConnect(attempt.address, static_cast<std::uint16_t>(port));
      if (attempt.error == 0) {
        ip = zarnplatform::FormatIpAddress(attempt.address);
        return std::move(attempt.socket);
      }
      if (attempt.error != TcpSocket::kConnectPending) attempt.socket.reset();
      attempts.push_back(std::move(attempt));
      nextStart = Clock::now() + kAttemptDelay;
      continue;
    }
    if (!pending) {
      std::string text = std::string(messages::kConnectFailed) + "\nHost:" + host + "\n" + Tried(attempts);
      throw Error(text, FailureKind::Connect);
    }
    if (now >= deadline) {
      std::string text = messages::kTimeout + std::string("connect ") + host;
      if (attempts.size() > 1) text += "\n" + Tried(attempts);
      throw WaitEnded(text, FailureKind::Timeout);
    }
    std::vector<const TcpSocket*> racing;
    std::vector<Attempt*> owners;
    for (Attempt& attempt : attempts) {
      if (attempt.socket) {
        racing.push_back(attempt.socket.get());
        owners.push_back(&attempt);
      }
    }
    Clock::time_point until = std::min(deadline, now + kSlice);
    if (next < addresses.size()) until = std::min(until, nextStart);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    const int ready = zarnplatform::WaitForAnyConnect(racing, static_cast<int>(std::max<long long>(0, wait.count())));
    if (ready < 0) continue;
    Attempt& done = *owners[static_cast<std::size_t>(ready)];
    done.error = done.socket->ConnectError();
    if (done.error == 0) {
      ip = zarnplatform::FormatIpAddress(done.address);
      return std::move(done.socket);  // the others close as `attempts` goes
    }
    done.socket.reset();
    nextStart = Clock::now();  // it failed sooner: the next one need not wait
  }
}

std::optional<ProxyEndpoint> ProxyOf(const Request& request) {
  return request.proxies != nullptr ? request.proxies->For(request.protocol, request.host) : std::nullopt;
}

// "https://host:443": where a kept connection may serve the next request; through a proxy, the
// proxy is named too.
std::string OriginOf(const Request& request) {
  const bool v6 = request.host.find(':') != std::string::npos;
  std::string origin = request.protocol + "://" + (v6 ? "[" + request.host + "]" : request.host) + ":" +
                       std::to_string(request.port);
  if (const auto proxy = ProxyOf(request)) origin += " via " + proxy->host + ":" + std::to_string(proxy->port);
  return origin;
}

// The one place a new connection's socket comes from.
std::unique_ptr<Connection> Open(Request& request, const std::string& origin, const TransportContext& context) {
  ConnectionPool* const pool = context.connections;
  auto connection = std::make_unique<Connection>();
  if (const std::optional<ProxyEndpoint> proxy = ProxyOf(request)) {
    // The server's name is the proxy's to look up; `ip` names the proxy that carried it.
    try {
      connection->socket = ConnectToOrigin(proxy->host, proxy->port, request.ip, context);
    } catch (const WaitEnded&) {
      throw;
    } catch (const Error& e) {
      throw Error(e.what() + std::string("\nProxy Host:") + proxy->host, FailureKind::Proxy);
    }
    OpenTunnel(*connection->socket, *proxy, request.host, request.port, context);
  } else {
    connection->socket = ConnectToOrigin(request.host, request.port, request.ip, context);
  }
  connection->ip = request.ip;
  if (request.protocol == "http") {
    connection->stream = std::make_unique<PlainStream>(*connection->socket, request.host);
    connection->stream->Use(context);
    return connection;
  }
  std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)> resume(
      pool != nullptr ? pool->TakeSession(origin) : nullptr, SSL_SESSION_free);
  TlsSessionSink sink;
  if (pool != nullptr) sink = [pool, origin](SSL_SESSION* session) { pool->KeepSession(origin, session); };
  auto stream = std::make_unique<TlsStream>(*connection->socket, request.host, resume.get(), std::move(sink));
  stream->Use(context);
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
Response Run(std::unique_ptr<Connection> connection, const Request& request, const std::string& origin,
             const TransportContext& context, bool& replyStarted) {
  bool reusable = false;
  connection->stream->Use(context);
  Response reply = Transact(*connection, request, replyStarted, reusable);
  if (context.connections != nullptr && reusable && !request.header.HasOption("Connection", "close")) {
    context.connections->Put(origin, std::move(connection), context.timeouts.idle);
  } else {
    connection->finish = true;
  }
  return reply;
}

}  // namespace

Response Exchange(Request& request, const TransportContext& given) {
  TransportContext context = given;
  context.deadline = std::min(context.deadline, Clock::now() + context.timeouts.total);
  zarnplatform::NetworkSession session;
  // OpenSSL writes with plain send(), which raises SIGPIPE on a closed connection.
  std::optional<zarnplatform::SigpipeGuard> noSigpipe;
  if (request.protocol == "https") noSigpipe.emplace();
  ConnectionPool* const pool = context.connections;
  const std::string origin = OriginOf(request);
  request.BuildMessage();

  if (std::unique_ptr<Connection> kept = pool != nullptr ? pool->Take(origin, context.timeouts.idle) : nullptr) {
    request.ip = kept->ip;
    bool replyStarted = false;
    try {
      return Run(std::move(kept), request, origin, context, replyStarted);
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
  return Run(Open(request, origin, context), request, origin, context, replyStarted);
}

}  // namespace sion
