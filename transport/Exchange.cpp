#include "transport/Exchange.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Socket.h"
#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/PlainStream.h"
#include "transport/SocketWait.h"
#include "transport/TlsStream.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// One TLS record's worth: a reply is read in a handful of calls.
constexpr std::size_t kReadBufferBytes = 16 * 1024;
// Interim (1xx) replies allowed before the real one; a peer sending them forever is hostile.
constexpr int kMaxInterimReplies = 8;

bool HasAsciiLetter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

std::string AddressOf(const std::string& name) { return HasAsciiLetter(name) ? zarnplatform::ResolveIpv4(name) : name; }

void Connect(Request& request, zarnplatform::TcpSocket& socket) {
  request.ip = AddressOf(request.host);
  std::string proxyIp;
  std::string target = request.ip;
  int32_t targetPort = request.port;
  if (request.useProxy) {
    proxyIp = AddressOf(request.proxyHost);
    target = proxyIp;
    targetPort = request.proxyPort;
  }
  std::uint32_t address = 0;
  if (!zarnplatform::ParseIpv4(target, address)) throw std::invalid_argument(messages::kAddressError);

  if (const int error = socket.Open(); error != 0) throw Error(messages::kSocketError + std::to_string(error));
  int error = socket.StartConnect(address, static_cast<std::uint16_t>(targetPort));
  if (error == zarnplatform::TcpSocket::kConnectPending) {
    AwaitSocket(socket, zarnplatform::WaitFor::Connect, GetTransportTimeouts().connect, request.host);
    error = socket.ConnectError();
  }
  if (error == 0) return;

  std::string text = std::string(messages::kConnectFailed) + "\n";
  text += "Host:" + request.host + "\n";
  text += "Ip:" + request.ip + "\n";
  if (request.useProxy) {
    text += "Proxy IP:" + proxyIp + "\n";
    text += "Proxy Host:" + request.proxyHost + "\n";
  }
  text += messages::kErrorCode + std::to_string(error);
  throw Error(text);
}

void Append(std::vector<char>& to, const char* bytes, std::size_t count) { to.insert(to.end(), bytes, bytes + count); }

Response Receive(ByteStream& stream) {
  std::vector<char> buffer(kReadBufferBytes);
  Response response;
  for (int interim = 0;; ++interim) {
    while (!response.IsHeaderComplete()) {
      const std::size_t count = stream.ReadSome(buffer.data(), buffer.size());
      if (count == 0) throw PeerConnectionClose();
      Append(response.source, buffer.data(), count);
    }
    response.ParseHeader();
    if (!response.IsInterim()) break;
    if (interim == kMaxInterimReplies) throw Error(std::string(messages::kParseError) + "\n" + response.StrSource());
    // The real reply may already have started in the bytes read with the interim one.
    std::vector<char> rest(response.source.begin() + static_cast<std::ptrdiff_t>(response.headerEnd),
                           response.source.end());
    response = Response();
    response.source = std::move(rest);
  }
  while (!response.IsBodyComplete()) {
    const std::size_t count = stream.ReadSome(buffer.data(), buffer.size());
    if (count == 0) {
      if (!response.IsCloseDelimited()) throw PeerConnectionClose();
      response.contentLength = static_cast<int32_t>(response.body.size());
      break;
    }
    Append(response.body, buffer.data(), count);
  }
  stream.Finish();
  response.DecodeChunked();
  return response;
}

}  // namespace

Response Exchange(Request& request) {
  const ScopedExchangeDeadline limit(std::chrono::steady_clock::now() + GetTransportTimeouts().total);
  zarnplatform::NetworkSession session;
  zarnplatform::TcpSocket socket;
  Connect(request, socket);
  request.BuildMessage();

  if (request.protocol == "http" || request.useProxy) {
    PlainStream stream(socket, request.host);
    stream.WriteAll(request.message.data(), request.message.size());
    return Receive(stream);
  }
  // OpenSSL writes with plain send(), which raises SIGPIPE on a closed connection.
  zarnplatform::SigpipeGuard noSigpipe;
  TlsStream stream(socket, request.host);
  stream.Handshake();
  stream.WriteAll(request.message.data(), request.message.size());
  return Receive(stream);
}

}  // namespace sion
