// Request::Send over TLS on loopback: the server's certificate is verified against the trust
// store and the URL's host, and a TLS peer is as hostile as a plain one.
#include <gtest/gtest.h>

#include "CertGen.h"
#include "ScriptedServer.h"
#include "TestAuthority.h"
#include "transport/Error.h"
#include "transport/Request.h"

namespace {

using zarntest::ScriptedServer;
using zarntest::ServerConnection;

void AnswerHello(ServerConnection& connection) {
  connection.ReadRequest();
  connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
}

std::string FailureOf(const std::string& url, std::string body = "") {
  sion::Request request;
  request.SetMethod(sion::Method::Post).SetBody(std::move(body));
  try {
    request.Send(url);
  } catch (const sion::Error& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(TlsExchange, TrustedCertificateForTheAddressOrNameSucceeds) {
  const auto& authority = zarntest::TrustedAuthority();
  const auto identity = zarncert::MakeServerCert(authority, {"localhost"}, {"127.0.0.1"});
  ScriptedServer server(AnswerHello, ScriptedServer::TlsIdentity{identity.certPem, identity.keyPem});

  sion::Request byAddress;
  byAddress.SetMethod(sion::Method::Get);
  const sion::Response viaIp = byAddress.Send(server.Url("/a"));
  EXPECT_EQ(viaIp.statusCode, "200");
  EXPECT_EQ(viaIp.StrBody(), "hello");
  EXPECT_EQ(server.LastServerName(), "");  // an address is never sent as SNI

  sion::Request byName;
  byName.SetMethod(sion::Method::Get);
  EXPECT_EQ(byName.Send(server.Url("/b", "localhost")).StrBody(), "hello");
  EXPECT_EQ(server.LastServerName(), "localhost");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[1], "GET /b HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n");
}

TEST(TlsExchange, UntrustedExpiredOrMisnamedCertificatesFailTheHandshake) {
  const auto& trusted = zarntest::TrustedAuthority();
  const auto stranger = zarncert::MakeAuthority("Somebody Else");
  struct Case {
    zarncert::KeyCert identity;
    std::string host;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {zarncert::MakeServerCert(stranger, {"localhost"}, {"127.0.0.1"}), "127.0.0.1",
       "unable to get local issuer certificate"},
      {zarncert::MakeServerCert(trusted, {"localhost"}, {"127.0.0.1"}, -60, 30), "127.0.0.1", "certificate has expired"},
      {zarncert::MakeServerCert(trusted, {"other.example"}, {"127.0.0.2"}), "127.0.0.1", "IP address mismatch"},
      {zarncert::MakeServerCert(trusted, {"other.example"}, {"127.0.0.1"}), "localhost", "hostname mismatch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    ScriptedServer server(AnswerHello, ScriptedServer::TlsIdentity{c.identity.certPem, c.identity.keyPem});
    EXPECT_EQ(FailureOf(server.Url("/", c.host)), "TLS握手失败:" + c.reason);
    EXPECT_TRUE(server.Requests().empty());
  }
}

TEST(TlsExchange, HostilePeersEndInErrorsNotSignalsOrHangs) {
  const auto identity = zarncert::MakeServerCert(zarntest::TrustedAuthority(), {}, {"127.0.0.1"});
  ScriptedServer server(
      [](ServerConnection& connection) {
        switch (connection.Index()) {
          case 0:  // leaves while a large request is still being written
            connection.ReadHead();
            connection.Reset();
            break;
          case 1:  // cuts the reply short without close_notify
            connection.ReadRequest();
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort");
            connection.Reset();
            break;
          default:  // a reply delimited by an orderly TLS close
            connection.ReadRequest();
            connection.Send("HTTP/1.1 200 OK\r\n\r\nto the end");
            break;
        }
      },
      ScriptedServer::TlsIdentity{identity.certPem, identity.keyPem});

  const std::string reset = FailureOf(server.Url(), std::string(16 * 1024 * 1024, 'x'));
  EXPECT_EQ(reset.rfind("网络异常,Socket错误码：", 0), 0u) << reset;
  EXPECT_EQ(FailureOf(server.Url()), "");

  sion::Request request;
  request.SetMethod(sion::Method::Get);
  EXPECT_EQ(request.Send(server.Url()).StrBody(), "to the end");
}

}  // namespace
