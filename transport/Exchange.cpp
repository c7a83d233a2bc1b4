#include "transport/Exchange.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Socket.h"
#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/PlainStream.h"
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

Response Receive(ByteStream& stream) {
  std::vector<char> buffer(kReadBufferBytes);
  ResponseReader reader;
  for (;;) {
    const std::size_t count = stream.ReadSome(buffer.data(), buffer.size());
    if (count == 0) {
      reader.FeedEnd();
      break;
    }
    if (reader.Feed(buffer.data(), count)) break;
  }
  stream.Finish();
  return reader.Take();
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
