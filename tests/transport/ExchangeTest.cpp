// Request::Send over real loopback connections, plain and TLS, against a scripted server: what
// reaches the server, what comes back, how every hostile, absent or slow server ends, and which
// connections are kept for the next request.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "Harness.h"
#include "Os.h"
#include "ScriptedServer.h"
#include "TestAuthority.h"
#include "platform/Socket.h"
#include "transport/ConnectionPool.h"
#include "transport/Error.h"
#include "transport/Request.h"
#include "transport/Resolver.h"
#include "transport/TransportSettings.h"

namespace {

using namespace std::chrono_literals;
using zarntest::ScriptedServer;
using Connection = ScriptedServer::Connection;
using Clock = std::chrono::steady_clock;
namespace os = zarntest::os;

// Waits are measured in whole milliseconds, so a limit may end a fraction of one early; and on a
// loaded or instrumented machine late, though never as late as the next longer limit in a test:
// the whole exchange's, kept short so that a limit not applied fails within seconds.
constexpr auto kWaitGrain = 2ms;
constexpr auto kLateness = 2s;
constexpr auto kWhole = 3s;

// Small time limits for one test; the previous ones come back afterwards.
struct ScopedTimeouts {
  explicit ScopedTimeouts(const sion::TransportTimeouts& limits) { sion::SetTransportTimeouts(limits); }
  ~ScopedTimeouts() { sion::SetTransportTimeouts(saved); }
  const sion::TransportTimeouts saved = sion::GetTransportTimeouts();
};

// Posts `body` on this thread: "<status> <body>" or "! <error text>"; `ip` receives the address
// that served.
std::string Post(const std::string& url, const std::string& body = "ping", bool repeatable = false,
                 std::string* ip = nullptr, const sion::TransportContext& context = {}) {
  sion::Header header;
  header.Add("content-type", "text/plain");
  sion::Request request;
  request.SetHeader(header).SetBody(body).SetMethod(sion::Method::Post).SetRepeatable(repeatable);
  try {
    const sion::Response reply = request.Send(url, context);
    if (ip != nullptr) *ip = request.ip;
    return reply.statusCode + " " + std::string(reply.body.begin(), reply.body.end());
  } catch (const sion::Error& e) {
    return std::string("! ") + e.what();
  }
}

// The bytes Post sends.
std::string RequestTo(const std::string& host, const std::string& path = "/") {
  return "POST " + path + " HTTP/1.1\r\ncontent-type: text/plain\r\nHost: " + host + "\r\nContent-Length: 4\r\n\r\nping";
}

// An expectation ending in '*' is a prefix: the rest is the system's error number.
void ExpectOutcome(const std::string& outcome, const std::string& expect) {
  if (!expect.empty() && expect.back() == '*') {
    EXPECT_EQ(outcome.substr(0, expect.size() - 1), expect.substr(0, expect.size() - 1)) << outcome;
  } else {
    EXPECT_EQ(outcome, expect);
  }
}

struct Case {
  std::function<void(Connection&)> serve;
  std::string expect;
  std::string body = "ping";
  std::chrono::milliseconds atLeast = 0ms;  // the time limit that must have been waited for
};

// Runs each case over its own connection to one server that plays the cases in turn.
void Play(const std::vector<Case>& cases, const std::optional<zarncert::KeyCert>& tls = std::nullopt,
         const std::string& host = "127.0.0.1") {
  ScriptedServer server([&cases](Connection& c) { cases.at(static_cast<std::size_t>(c.Index())).serve(c); }, tls);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto start = Clock::now();
    ExpectOutcome(Post(server.Url("/api?q=" + std::to_string(i), host), cases[i].body), cases[i].expect);
    EXPECT_GE(Clock::now() - start, cases[i].atLeast - kWaitGrain);
    EXPECT_LT(Clock::now() - start, cases[i].atLeast + kLateness);
  }
  EXPECT_EQ(server.Requests().at(0), RequestTo(host, "/api?q=0"));
}

const std::string kBig(16 << 20, 'x');  // more than the connection's buffers take in
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

void Reply(Connection& c, const std::string& bytes) {
  c.ReadRequest();
  c.Send(bytes);
}

// Leaves with a TCP reset while the request is still being written.
void ResetWhileWritten(Connection& c) {
  c.ReadRequest(1);
  c.EndWith(Connection::Ending::Reset);
}

TEST(Exchange, PlainRepliesAndWhatEveryFailureOfTheServerLooksLike) {
  const ScopedTimeouts limits({300ms, 300ms, kWhole});
  Play({
      // in several reads on a connection left open: the length ends the reply
      {[](Connection& c) {
         c.ReadRequest();
         for (const char* part : {"HTTP/1.1 200 OK\r\nContent-Le", "ngth: 10\r\n\r", "\n0123", "456789"}) {
           c.Send(part);
           c.Pause(20ms);
         }
         c.HoldUntilReleased();
       },
       "200 0123456789"},
      {[](Connection& c) { Reply(c, "HTTP/1.1 200 OK\r\n\r\nuntil the close"); }, "200 until the close"},
      {[](Connection& c) { Reply(c, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"); }, "! "},
      {[](Connection& c) { Reply(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"); }, "! "},
      // (Wine's Winsock reads this reset as a close: an incomplete reply, as just above.)
      {[](Connection& c) {
         Reply(c, "HTTP/1.1 200 OK\r\n");
         c.EndWith(Connection::Ending::Reset);
       },
       os::RunningUnderWine() ? "! " : "! 网络异常,Socket错误码：-1"},
      {ResetWhileWritten, "! 网络异常,Socket错误码：*", kBig},
      {[](Connection& c) {
         Reply(c, "HTTP/1.1 200 OK\r\n");
         c.HoldUntilReleased();
       },
       "! 网络超时:read 127.0.0.1", "ping", 300ms},
      {[](Connection& c) { c.HoldUntilReleased(); }, "! 网络超时:write 127.0.0.1", kBig, 300ms},
  });
}

TEST(Exchange, AServerThatTricklesEndsAtTheLimitOfTheWholeExchange) {
  const ScopedTimeouts limits({300ms, 300ms, 3000ms});
  Play({{[](Connection& c) {
           Reply(c, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
           for (int i = 0; i < 60 && c.Send("x"); ++i) c.Pause(100ms);  // each wait short, all too long
         },
         "! 网络超时:read 127.0.0.1", "ping", 3000ms}});
}

TEST(Exchange, ARaisedCancelFlagEndsTheWaitWithinMoments) {
  const ScopedTimeouts limits({kWhole, kWhole, kWhole});
  std::atomic<bool> cancel{false};
  ScriptedServer server([&cancel](Connection& c) {
    c.ReadRequest();
    cancel = true;
    c.HoldUntilReleased();
  });
  sion::TransportContext context;
  context.cancel = &cancel;
  const auto start = Clock::now();
  EXPECT_EQ(Post(server.Url(), "ping", false, nullptr, context), "! 请求已取消");
  EXPECT_LT(Clock::now() - start, kLateness);  // below the read limit
}

// However often a write to a peer that has gone is tried, it fails with an error: a broken-pipe
// signal would end the game.
TEST(Exchange, WritesToAVanishedPeerFailWithoutASignal) {
  uint16_t port = 0;
  const os::Socket listener = os::ListenLoopback(port);
  const auto loopback = zarnplatform::ParseIpAddress("127.0.0.1");
  ASSERT_TRUE(loopback);
  zarnplatform::TcpSocket socket;
  ASSERT_EQ(socket.Open(), 0);
  const int started = socket.StartConnect(*loopback, port);
  ASSERT_TRUE(started == 0 || started == zarnplatform::TcpSocket::kConnectPending) << started;
  os::Close(os::Accept(listener));
  os::Close(listener);
  int failures = 0;
  for (int i = 0; i < 50 && failures < 3; ++i) {
    ASSERT_EQ(socket.Wait(zarnplatform::WaitFor::Write, 5000), zarnplatform::Readiness::Ready);
    if (socket.Send("data", 4).status == zarnplatform::IoStatus::Failed) ++failures;
  }
  EXPECT_EQ(failures, 3);
}

// Answers with the server name the client asked for.
void Hello(Connection& c) {
  const std::string body = "sni:" + c.ServerName();
  Reply(c, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST(Exchange, TlsToAVerifiedServerByAddressOrByName) {
  const auto identity = zarncert::MakeServerCert(zarntest::TrustedAuthority(), {"localhost"}, {"127.0.0.1"});
  // An address is never sent as the server name.
  Play({{Hello, "200 sni:"},
       {ResetWhileWritten, "! 网络异常,Socket错误码：*", kBig},
       // closed without close_notify: an attacker may have cut the reply anywhere
       {[](Connection& c) {
          Reply(c, "HTTP/1.1 200 OK\r\n\r\nto the");
          c.EndWith(Connection::Ending::Cut);
        },
        "! "},
       {[](Connection& c) { Reply(c, "HTTP/1.1 200 OK\r\n\r\nto the end"); }, "200 to the end"}},
      identity);
  Play({{Hello, "200 sni:localhost"}}, identity, "localhost");
}

TEST(Exchange, TlsRefusesServersItCannotVerify) {
  const auto& trusted = zarntest::TrustedAuthority();
  const auto stranger = zarncert::MakeAuthority("Somebody Else");
  const struct {
    zarncert::KeyCert identity;
    std::string host;
    std::string reason;
  } cases[] = {
      {zarncert::MakeServerCert(stranger, {"localhost"}, {"127.0.0.1"}), "127.0.0.1",
       "unable to get local issuer certificate"},
      {zarncert::MakeServerCert(trusted, {"localhost"}, {"127.0.0.1"}, -60, 30), "127.0.0.1",
       "certificate has expired"},
      {zarncert::MakeServerCert(trusted, {"localhost"}, {"127.0.0.2"}), "127.0.0.1", "IP address mismatch"},
      {zarncert::MakeServerCert(trusted, {"other.test"}, {"127.0.0.1"}), "localhost", "hostname mismatch"},
      // A name in the common name alone does not count: only subjectAltName names the server.
      {zarncert::MakeServerCert(trusted, {"localhost"}, {}, -1, 30, false), "localhost", "hostname mismatch"},
  };
  for (const auto& c : cases) {
    ScriptedServer server(Hello, c.identity);
    EXPECT_EQ(Post(server.Url("/", c.host)), "! TLS握手失败:" + c.reason);
    EXPECT_TRUE(server.Requests().empty());
  }
}

// ---- addresses: both families, several per name

bool HasIpv6Loopback() try {
  uint16_t port = 0;
  return os::Close(os::ListenLoopback(port, "::1")), true;
} catch (const std::exception&) {
  return false;
}

// The addresses a name has, as the test's resolver gives them.
sion::NameLookup Names(std::vector<std::string> texts) {
  return [texts](const std::string&) {
    std::vector<zarnplatform::IpAddress> addresses;
    for (const std::string& text : texts) addresses.push_back(*zarnplatform::ParseIpAddress(text));
    return addresses;
  };
}

// A name's addresses are raced: the first connection made serves, whichever family; an address
// that refuses hands over at once, one that does not answer after 250 ms; a failure names every
// address tried.
TEST(Addresses, ANameIsServedByTheFirstOfItsAddressesThatConnects) {
  const ScopedTimeouts limits({2s, kWhole, kWhole});
  const bool v6 = HasIpv6Loopback();
  const struct {
    std::vector<std::string> addresses;
    std::string server, silent;  // where the server listens; where connections are never admitted
    std::string expect;
    std::chrono::milliseconds atLeast, below;
  } cases[] = {
      {{"127.0.0.2", "127.0.0.1"}, "127.0.0.1", "", "200 ok", 0ms, 250ms},
      {{"127.0.0.1", "127.0.0.2"}, "127.0.0.2", "127.0.0.1", "200 ok", 250ms, 1500ms},
      {{"::1", "127.0.0.1"}, "127.0.0.1", "", "200 ok", 0ms, 250ms},
      {{"127.0.0.1", "::1", "127.0.0.3"}, "::1", "127.0.0.1", "200 ok", 250ms, 1500ms},
      {{"127.0.0.2"}, "", "", "! 连接失败:\nHost:two.test\nIp:127.0.0.2\n错误码：N", 0ms, 2s},
      {{"127.0.0.2", "127.0.0.3"}, "", "", "! 连接失败:\nHost:two.test\nIp:127.0.0.2\n错误码：N\nIp:127.0.0.3\n错误码：N", 0ms, 2s},
      {{"127.0.0.1"}, "", "127.0.0.1", "! 网络超时:connect two.test", 2s, 3s},
      {{"127.0.0.2", "127.0.0.1"}, "", "127.0.0.1",
       "! 网络超时:connect two.test\nIp:127.0.0.2\n错误码：N\nIp:127.0.0.1\n错误码：-", 2s, 3s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.addresses.front() + " " + c.addresses.back());
    const bool needsV6 = std::any_of(c.addresses.begin(), c.addresses.end(), [](auto& a) { return a == "::1"; });
    if (needsV6 && !v6) continue;  // reported below
    uint16_t port = 0;
    std::vector<os::Socket> held;
    if (!c.silent.empty()) held.push_back(os::ListenWithoutAdmitting(port, held));
    std::optional<ScriptedServer> server;
    if (c.server.empty() && c.silent.empty()) {
      held.push_back(os::BindWithoutListening(port));  // refused on every address
    } else if (!c.server.empty()) {
      server.emplace([](Connection& connection) { Reply(connection, kOk); }, std::nullopt, c.server, port);
      port = server->Port();
    }
    sion::Resolver names(Names(c.addresses));
    sion::TransportContext context;
    context.resolver = &names;
    std::string ip;
    const auto start = Clock::now();
    const std::string outcome = Post("http://two.test:" + std::to_string(port) + "/", "ping", false, &ip, context);
    const auto took = Clock::now() - start;
    EXPECT_EQ(std::regex_replace(outcome, std::regex("错误码：-?[0-9]+"), "错误码：N"), c.expect);
    EXPECT_EQ(ip, c.expect == "200 ok" ? c.server : "");
    EXPECT_GE(took, c.atLeast - kWaitGrain);
    EXPECT_LT(took, c.below);
    if (server) {
      EXPECT_EQ(server->Requests(), std::vector<std::string>(1, RequestTo("two.test")));
    }
    for (const os::Socket socket : held) os::Close(socket);
  }
  if (!v6) GTEST_SKIP() << "no IPv6 loopback (::1) on this machine: its cases did not run";
}

// Answers are kept, failures are not; a lookup that does not answer in time is left behind.
TEST(Addresses, TheResolverKeepsAnswersAndNeverWaitsPastItsLimitOrItsCancelFlag) {
  // Shared with the lookup thread left behind, which may outlive the test.
  const auto asked = std::make_shared<std::atomic<int>>(0), released = std::make_shared<std::atomic<int>>(0);
  std::atomic<bool> cancel{false};
  sion::Resolver names([asked, released](const std::string& name) {
    ++*asked;
    if (name == "slow.test") zarntest::WaitUntil([&released] { return released->load() != 0; }, 20s);
    if (name != "ok.test") throw std::runtime_error("no such name");
    return std::vector<zarnplatform::IpAddress>{*zarnplatform::ParseIpAddress("::1")};
  });
  const struct {
    std::string name;
    std::chrono::milliseconds limit;
    std::string expect;  // then the failure's kind
    int asked;           // lookups so far
  } cases[] = {{"ok.test", 5s, "::1", 1},
               {"ok.test", 5s, "::1", 1},
               {"bad.test", 5s, "! no such name 1", 2},
               {"bad.test", 5s, "! no such name 1", 3},
               {"slow.test", 100ms, "! 网络超时:resolve slow.test 5", 4},
               {"slow.test", 5s, "! 请求已取消 7", 4}};  // joins the lookup under way
  for (const auto& c : cases) {
    cancel = c.limit == 5s && c.name == "slow.test";
    const auto start = Clock::now();
    try {
      EXPECT_EQ(zarnplatform::FormatIpAddress(names.Resolve(c.name, start + c.limit, &cancel).at(0)), c.expect);
    } catch (const sion::Error& e) {
      EXPECT_EQ(std::string("! ") + e.what() + " " + std::to_string(static_cast<int>(e.kind())), c.expect);
    }
    EXPECT_LT(Clock::now() - start, kLateness);
    EXPECT_EQ(asked->load(), c.asked);
  }
  *released = 1;
}

// An IPv6 literal in brackets: the Host field carries it with its port, and the certificate must
// name that address.
TEST(Addresses, TlsToAnIpv6LiteralChecksTheAddress) {
  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
  const auto& trusted = zarntest::TrustedAuthority();
  for (const auto& [ip, expect] : {std::pair<std::string, std::string>{"::1", "200 ok"},
                                   {"127.0.0.1", "! TLS握手失败:IP address mismatch"}}) {
    ScriptedServer server([](Connection& c) { Reply(c, kOk); }, zarncert::MakeServerCert(trusted, {"localhost"}, {ip}),
                          "::1");
    std::string served;
    EXPECT_EQ(Post(server.Url("/v6"), "ping", false, &served), expect);
    if (expect != "200 ok") continue;
    EXPECT_EQ(served, "::1");
    EXPECT_EQ(server.Requests(), std::vector<std::string>(1, RequestTo("[::1]:" + std::to_string(server.Port()), "/v6")));
  }
}

// ---- kept connections: the thread has a connection pool

// Accepted connections, once every one that is coming has come.
std::size_t Accepted(ScriptedServer& server) {
  std::size_t count = 0;
  while (server.WaitForConnections(count + 1, 0ms)) ++count;
  return count;
}

std::optional<zarncert::KeyCert> TlsOrNot(bool tls) {
  return tls ? std::optional(zarncert::MakeServerCert(zarntest::TrustedAuthority(), {"localhost"}, {"127.0.0.1"}))
             : std::nullopt;
}

TEST(KeptConnections, OnlyAPersistentReplyReadToItsEndLeavesItsConnectionForTheNextRequest) {
  const ScopedTimeouts limits({kWhole, 300ms, kWhole});
  enum class Then { Serve, Close, Hold };
  const struct {
    std::string reply;
    Then then;
    std::size_t connections;  // for two requests
  } cases[] = {
      {kOk, Then::Serve, 1},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", Then::Serve, 1},
      {"HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n", Then::Serve, 1},
      {"HTTP/1.1 200 OK\r\nConnection: Keep-Alive, CLOSE\r\nContent-Length: 2\r\n\r\nok", Then::Serve, 2},
      {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok", Then::Serve, 2},
      {kOk + "HTTP/1.1 200 OK\r\n", Then::Serve, 2},  // bytes nobody asked for
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\nHTTP", Then::Serve, 2},
      {"HTTP/1.1 200 OK\r\n\r\nok", Then::Close, 2},  // the body ends with the connection
      {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok", Then::Hold, 2},  // read limit mid-body
  };
  for (const bool tls : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.reply + (tls ? " over TLS" : ""));
      ScriptedServer server(
          [&c](Connection& connection) {
            while (!connection.ReadRequest().empty()) {
              connection.Send(connection.Index() == 0 ? c.reply : kOk);
              if (connection.Index() == 0 && c.then == Then::Hold) connection.HoldUntilReleased();
              if (connection.Index() == 0 && c.then == Then::Close) return;
            }
          },
          TlsOrNot(tls));
      sion::ConnectionPool kept;
      sion::TransportContext context;
      context.connections = &kept;
      const std::string first = Post(server.Url(), "ping", false, nullptr, context);
      EXPECT_EQ(Post(server.Url(), "ping", false, nullptr, context), c.connections == 1 ? first : "200 ok");
      EXPECT_EQ(Accepted(server), c.connections);
    }
  }
}

// Two requests; between them the server's first connection does `idle`, then `then` once the
// second request is due. The second request goes once more, on a new connection, only when its
// kept connection failed before any byte of the reply, and then only if it is repeatable or the
// server did not read it (else the server may have acted on it). Bytes arriving while idle (a 408
// before the server hangs up, a reply nobody asked for, the start of a TLS record) retire the
// connection; a TLS 1.3 session ticket leaves it as it was.
TEST(KeptConnections, ARequestGoesOnceMoreOnlyWhenTheServerCannotHaveActedOnItOrKnowsTheRepeat) {
  const ScopedTimeouts limits({10s, 300ms, 30s});
  using Act = std::function<void(Connection&)>;
  const Act hold = [](Connection& c) { c.HoldUntilReleased(); };
  const struct {
    Act idle, then;
    std::string expect;
    std::size_t connections, sent;  // sent: how often the second request reached the server
    bool tlsOnly = false, readUnanswered = false;
  } cases[] = {
      {[](Connection& c) { c.Close(); }, {}, "200 ok", 2, 1},
      {{}, [](Connection& c) { c.ReadRequest(); }, "200 ok", 2, 2, false, true},
      {{},
       [](Connection& c) {
         c.ReadRequest();
         c.EndWith(Connection::Ending::Reset);
       },
       "200 ok", 2, 2, false, true},
      {{}, [](Connection& c) { Reply(c, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nok"); }, "! ", 1, 1},
      {[](Connection& c) { c.Send("HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\n\r\n"); }, {}, "200 ok", 2, 1},
      {[](Connection& c) { c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nstale"); }, hold, "200 ok", 2, 1},
      {[](Connection& c) { c.SendRaw(std::string("\x17\x03\x03\x00\x40", 5) + "HTTP/1.1"); }, hold, "200 ok", 2, 1},
      {[](Connection& c) {
         SSL_new_session_ticket(c.Tls());
         SSL_do_handshake(c.Tls());
       },
       [](Connection& c) { Reply(c, kOk); }, "200 ok", 1, 1, true},
  };
  // The same bytes every time, and no field added for the kept connection.
  const std::string request = RequestTo("127.0.0.1");
  for (const bool tls : {false, true}) {
    for (std::size_t i = 0; i < 2 * std::size(cases); ++i) {
      const auto& c = cases[i / 2];
      const bool repeatable = i % 2 == 0, once = c.readUnanswered && !repeatable;
      if (c.tlsOnly && !tls) continue;
      SCOPED_TRACE(std::to_string(i / 2) + (tls ? " over TLS" : "") + (repeatable ? ", repeatable" : ""));
      std::atomic<int> stage{0};  // 1: the first reply is in, 2: the server idled
      ScriptedServer server(
          [&](Connection& connection) {
            Reply(connection, kOk);
            if (connection.Index() > 0) return;
            zarntest::WaitUntil([&] { return stage.load() == 1; });
            if (c.idle) c.idle(connection);
            stage = 2;
            if (c.then) c.then(connection);
          },
          TlsOrNot(tls));
      sion::ConnectionPool kept;
      sion::TransportContext context;
      context.connections = &kept;
      EXPECT_EQ(Post(server.Url(), "ping", false, nullptr, context), "200 ok");
      stage = 1;
      ASSERT_TRUE(zarntest::WaitUntil([&] { return stage.load() == 2; }));
      ExpectOutcome(Post(server.Url(), "ping", repeatable, nullptr, context), once ? "! *" : c.expect);
      EXPECT_EQ(Accepted(server), once ? 1 : c.connections);
      EXPECT_EQ(server.Requests(), std::vector<std::string>(once ? 2 : 1 + c.sent, request));
    }
  }
}

}  // namespace
