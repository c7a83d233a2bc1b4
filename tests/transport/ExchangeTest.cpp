// Request::Send over real loopback connections against a scripted plain-HTTP server.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "ScriptedServer.h"
#include "transport/Error.h"
#include "transport/Request.h"
#include "transport/TransportSettings.h"

namespace {

using namespace std::chrono_literals;
using zarntest::ScriptedServer;
using zarntest::ServerConnection;

sion::Request Get() {
  sion::Request request;
  request.SetMethod(sion::Method::Get);
  return request;
}

std::string FailureOf(sion::Request request, const std::string& url) {
  try {
    request.Send(url);
  } catch (const sion::Error& e) {
    return e.what();
  }
  return "<no error>";
}

// A loopback port nobody listens on.
uint16_t ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::string BodyOf(const sion::Response& r) { return std::string(r.body.begin(), r.body.end()); }

TEST(PlainExchange, WritesTheRequestAndFramesEveryKindOfReply) {
  struct Case {
    std::vector<std::string> parts;  // sent with a short gap between them
    bool holdOpen;                   // keep the connection open after the reply
    std::string body;
  };
  const std::vector<Case> cases = {
      {{"HTTP/1.1 200 OK\r\nContent-Le", "ngth: 10\r\n\r", "\n0123", "456789"}, true, "0123456789"},
      {{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokEXTRA BYTES"}, true, "ok"},
      {{"HTTP/1.1 200 OK\r\ntransfer-encoding: CHUNKED\r\n\r\n4;x=y\r\nwiki\r\n", "5\r\npedia\r\n0\r\nT: 1\r\n\r\n"},
       true, "wikipedia"},
      {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"}, true, ""},
      {{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nreal"}, true, "real"},
      {{"HTTP/1.1 200 OK\r\n\r\nuntil ", "the close"}, false, "until the close"},
  };
  ScriptedServer server([&](ServerConnection& connection) {
    connection.ReadRequest();
    const Case& c = cases.at(static_cast<std::size_t>(connection.Index()));
    for (const auto& part : c.parts) {
      connection.Send(part);
      connection.Pause(20ms);
    }
    if (c.holdOpen) connection.HoldUntilReleased();
  });

  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    sion::Request request = Get();
    sion::Header header;
    header.Add("content-type", "text/plain");
    request.SetHeader(header).SetBody("ping").SetMethod(sion::Method::Post);
    const sion::Response response = request.Send(server.Url("/api?q=" + std::to_string(i)));
    EXPECT_EQ(response.statusCode, "200");
    EXPECT_EQ(BodyOf(response), cases[i].body);
    EXPECT_EQ(request.ip, "127.0.0.1");
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), cases.size());
  EXPECT_EQ(requests[0], "POST /api?q=0 HTTP/1.1\r\ncontent-type: text/plain\r\nHost: 127.0.0.1\r\n"
                         "Content-Length: 4\r\n\r\nping");
  server.Release();
}

TEST(PlainExchange, PeerClosingEarlyIsAnEmptyError) {
  ScriptedServer server([](ServerConnection& connection) {
    connection.ReadRequest();
    if (connection.Index() == 1) connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort");
    if (connection.Index() == 2) connection.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel");
  });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(FailureOf(Get(), server.Url()), "") << i;
}

TEST(PlainExchange, ConnectionFailuresNameTheServer) {
  const std::string port = std::to_string(ClosedPort());
  EXPECT_EQ(FailureOf(Get(), "https://localhost:" + port + "/x"),
            "连接失败:\nHost:localhost\nIp:127.0.0.1\n错误码：111");
  EXPECT_EQ(FailureOf(Get(), "http://1234:" + port + "/"), "地址转换错误");
  // A failing name lookup is not exercised here: any name that fails to resolve is first asked
  // of the machine's DNS server, and tests never leave the loopback range.
}

TEST(PlainExchange, ProxyGetsTheAbsoluteUrlInClearText) {
  ScriptedServer proxy([](ServerConnection& connection) {
    connection.ReadRequest();
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  sion::Request request = Get();
  request.useProxy = true;
  request.proxyHost = "127.0.0.1";
  request.proxyPort = proxy.Port();
  request.SetUrl("https://localhost/x?y=1");
  EXPECT_EQ(request.Send(request.url).statusCode, "200");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0], "GET https://localhost/x?y=1 HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n");
}

TEST(PlainExchange, NothingWaitsForever) {
  sion::SetTransportTimeouts({300ms, 300ms});
  const auto elapsed = [](auto start) { return std::chrono::steady_clock::now() - start; };

  // A server that answers half a head and then nothing.
  ScriptedServer silent([](ServerConnection& connection) {
    connection.ReadRequest();
    connection.Send("HTTP/1.1 200 OK\r\n");
    connection.HoldUntilReleased();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf(Get(), silent.Url()), "网络超时:read 127.0.0.1");
  EXPECT_LT(elapsed(start), 5s);

  // A server that never reads: the request body cannot all be written.
  ScriptedServer deaf([](ServerConnection& connection) { connection.HoldUntilReleased(); });
  sion::Request big = Get();
  big.SetBody(std::string(16 * 1024 * 1024, 'x'));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf(std::move(big), deaf.Url()), "网络超时:write 127.0.0.1");
  EXPECT_LT(elapsed(start), 10s);

  // A listener whose accept queue is full drops further connection attempts.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf(Get(), "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"),
            "网络超时:connect 127.0.0.1");
  EXPECT_LT(elapsed(start), 5s);
  for (int fd : fillers) ::close(fd);
  ::close(listener);
  silent.Release();
  deaf.Release();

  // A server that keeps every single wait short but never finishes: the whole exchange has a
  // limit of its own.
  sion::SetTransportTimeouts({300ms, 300ms, 1s});
  std::atomic<bool> trickling{true};
  ScriptedServer trickle([&trickling](ServerConnection& connection) {
    connection.ReadRequest();
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
    while (trickling) {
      connection.Pause(100ms);
      connection.Send("x");
    }
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf(Get(), trickle.Url()), "网络超时:read 127.0.0.1");
  EXPECT_GE(elapsed(start), 900ms);
  EXPECT_LT(elapsed(start), 5s);
  trickling = false;
  sion::SetTransportTimeouts({});
}

TEST(PlainExchange, ResetDuringTheWriteIsAnErrorNotASignal) {
  ScriptedServer server([](ServerConnection& connection) {
    connection.ReadHead();
    connection.Reset();
  });
  sion::Request big = Get();
  big.SetBody(std::string(16 * 1024 * 1024, 'x'));
  const std::string failure = FailureOf(std::move(big), server.Url());
  EXPECT_EQ(failure.rfind("网络异常,Socket错误码：", 0), 0u) << failure;
}

}  // namespace
