// The dispatch gateway against real loopback servers: what goes on the wire, the reply
// envelope rules, transport and HTTP failures, and the two log lines.
#include <gtest/gtest.h>

#include <map>

#include "ApiTestSupport.h"
#include "LoopbackServer.h"
#include "Sdk/CZarnHttp.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnLog.h"
#include "TestSupport.h"
#include "transport/WorkerPool.h"

using ZarnSdk::CZarnHttp;
using ZarnSdk::HttpResp;
using zarntest::LoopbackServer;
using zarntest::Narrow;
using zarntest::ReplyCatcher;
using zarntest::ScriptedReply;

namespace {

// GBK bytes of the log labels.
const std::string kRequestUrlLabel = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7\xa3\xba";   // 请求地址：
const std::string kRequestDataLabel = "\xc7\xeb\xc7\xf3\xca\xfd\xbe\xdd\xa3\xba";  // 请求数据：
const std::string kReplyUrlLabel = "\xc7\xeb\xc7\xf3\xb5\xd8\xd6\xb7:";            // 请求地址:
const std::string kReplyStatusLabel = "     \xcf\xec\xd3\xa6:";                    //      响应:
const std::string kReplyBodyLabel = "\xc7\xeb\xc7\xf3\xbd\xe1\xb9\xfb:";           // 请求结果:
// UTF-8 of 连接失败: as the transport reports a refused connection.
const std::string kConnectFailedUtf8 = "\xe8\xbf\x9e\xe6\x8e\xa5\xe5\xa4\xb1\xe8\xb4\xa5:";

class HttpGateway : public ::testing::Test {
 protected:
  void SetUp() override { sion::WorkerPool::Instance().Start(); }
  void TearDown() override { sion::WorkerPool::Instance().Stop(); }

  // Posts to `url` and waits for the one reply.
  HttpResp PostAndWait(const std::string& url, const std::string& body = "a=1") {
    ReplyCatcher catcher;
    CZarnHttp::PostCallback(url, body, catcher.Callback());
    EXPECT_TRUE(catcher.WaitFor(1));
    const auto replies = catcher.Replies();
    return replies.empty() ? HttpResp{} : replies.front().resp;
  }
};

// Collects the SDK's info-level log messages (the text after the configured prefix).
class LogCapture : public el::LogDispatchCallback {
 public:
  static void Install() {
    ZarnSdk::ConfigureLogger(true);
    el::Helpers::installLogDispatchCallback<LogCapture>("ApiTestLogCapture");
  }
  static std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> lock(Mutex());
    return Store();
  }
  static bool Contains(const std::string& message) {
    for (const std::string& m : Messages()) {
      if (m == message) return true;
    }
    return false;
  }

 protected:
  void handle(const el::LogDispatchData* data) override {
    if (data->logMessage()->level() != el::Level::Info) return;
    std::lock_guard<std::mutex> lock(Mutex());
    Store().push_back(data->logMessage()->message());
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Store() {
    static std::vector<std::string> v;
    return v;
  }
};

}  // namespace

TEST_F(HttpGateway, PostsFormRequestDecodesEnvelopeAndLogsBothLines) {
  LogCapture::Install();
  LoopbackServer server;
  const std::string reply = R"({"code":200,"msg":"ok","data":{"orderId":"x1"}})";
  server.SetDefaultReply({200, reply});
  const std::string url = server.Url("/sdkapi/v3/config/client.do");
  const std::string body = "appId=1&nickName=\xe5\xbc\xa0 &osign=abc";

  ReplyCatcher catcher;
  CZarnHttp::PostCallback(url, body, catcher.Callback());
  ASSERT_TRUE(catcher.WaitFor(1));
  const auto caught = catcher.Replies().front();
  EXPECT_EQ(caught.resp.code, 200);
  EXPECT_EQ(caught.resp.msg, L"ok");
  EXPECT_EQ(Narrow(caught.resp.data), reply);
  EXPECT_NE(caught.thread, std::this_thread::get_id());

  const auto received = server.Requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].path, "/sdkapi/v3/config/client.do");
  EXPECT_EQ(received[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(received[0].body, body);

  EXPECT_TRUE(LogCapture::Contains("\n" + kRequestUrlLabel + url + "\n" + kRequestDataLabel + body + "\n"));
  EXPECT_TRUE(
      LogCapture::Contains("\n" + kReplyUrlLabel + url + kReplyStatusLabel + "200\n" + kReplyBodyLabel + reply + "\n"));
}

TEST_F(HttpGateway, AnalyticsGoesOutWithItsOwnContentTypeAndUnencoded) {
  LoopbackServer server;
  server.SetDefaultReply({200, R"({"code":200})"});
  zarntest::ScopedEnv origin("ZARN_SDK_API_ORIGIN", server.Origin());
  const std::string doc = R"({"a":"x&y=z+%","event":"qzk_login"})";

  ReplyCatcher catcher;
  ZarnSdk::ZarnApi::PostTrackData(doc, catcher.Callback());
  ASSERT_TRUE(catcher.WaitFor(1));
  EXPECT_EQ(catcher.Replies().front().resp.code, 200);

  const auto received = server.Requests("/data/h5/v1.do");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].body, doc);
  EXPECT_EQ(received[0].Header("Content-Type"), "text/plain;charset=UTF-8");
  size_t contentTypes = 0;
  for (const auto& [key, value] : received[0].headers) contentTypes += (key == "Content-Type" || key == "content-type");
  EXPECT_EQ(contentTypes, 1u);
}

TEST_F(HttpGateway, EnvelopeRules) {
  LoopbackServer server;
  struct Case {
    std::string body;
    int code;
    std::wstring msg;       // expected msg on success
    std::string errorPart;  // on -501: a piece of the JSON library's text
  };
  const std::string utf8Msg = "\xe6\x88\x90\xe5\x8a\x9f";  // 成功
  const std::map<std::string, Case> cases = {
      {"/msg-wins", {R"({"code":200,"msg":"m","message":"other"})", 200, L"m", ""}},
      {"/message", {R"({"code":1001,"message":"refused"})", 1001, L"refused", ""}},
      {"/neither", {R"({"code":0})", 0, L"", ""}},
      {"/float", {R"({"code":200.9,"msg":"f"})", 200, L"f", ""}},
      {"/negative-float", {R"({"code":-7.9})", -7, L"", ""}},
      {"/true", {R"({"code":true})", 1, L"", ""}},
      {"/false", {R"({"code":false})", 0, L"", ""}},
      {"/utf8", {R"({"code":200,"msg":")" + utf8Msg + R"("})", 200, L"\u6210\u529f", ""}},
      {"/code-string", {R"({"code":"200","msg":"ok"})", -501, L"", "type must be number, but is string"}},
      {"/code-null", {R"({"code":null})", -501, L"", "type must be number, but is null"}},
      {"/code-missing", {R"({"msg":"ok"})", -501, L"", "key 'code' not found"}},
      {"/msg-number", {R"({"code":200,"msg":5})", -501, L"", "type must be string, but is number"}},
      {"/message-null", {R"({"code":200,"message":null})", -501, L"", "type must be string, but is null"}},
      {"/array", {R"([{"code":200}])", -501, L"", "cannot use at() with array"}},
      {"/empty", {"", -501, L"", "parse error"}},
      {"/html", {"<html><body>502 Bad Gateway</body></html>", -501, L"", "parse error"}},
      {"/trailing", {R"({"code":200} x)", -501, L"", "parse error"}},
      {"/code-beyond-32-bits", {R"({"code":4294967496})", -501, L"", "4294967496"}},
      {"/code-huge-float", {R"({"code":1e300})", -501, L"", "1e+300"}},
  };

  ReplyCatcher catcher;
  std::map<std::string, HttpResp> replies;
  std::mutex repliesMutex;
  for (const auto& [path, c] : cases) {
    server.SetReply(path, {200, c.body});
    ZarnSdk::HttpCallback record = catcher.Callback();
    CZarnHttp::PostCallback(server.Url(path), "x=1", [&, path = path, record](HttpResp resp) {
      {
        std::lock_guard<std::mutex> lock(repliesMutex);
        replies[path] = resp;
      }
      record(std::move(resp));
    });
  }
  ASSERT_TRUE(catcher.WaitFor(cases.size()));

  for (const auto& [path, c] : cases) {
    SCOPED_TRACE(path);
    const HttpResp& r = replies.at(path);
    EXPECT_EQ(r.code, c.code);
    if (c.code == -501) {
      EXPECT_NE(Narrow(r.msg).find(c.errorPart), std::string::npos) << Narrow(r.msg);
      EXPECT_TRUE(r.data.empty());
    } else {
      EXPECT_EQ(r.msg, c.msg);
      EXPECT_EQ(Narrow(r.data), c.body);
    }
  }
}

TEST_F(HttpGateway, BodyIsCutAtTheFirstZeroByte) {
  LoopbackServer server;
  const std::string whole = std::string(R"({"code":200,"msg":"cut"})") + '\0' + "garbage";
  server.SetReply("/zero", {200, whole});
  server.SetReply("/zero-inside", {200, std::string(R"({"code":200,"msg":"a)") + '\0' + R"(b"})"});

  const HttpResp cut = PostAndWait(server.Url("/zero"));
  EXPECT_EQ(cut.code, 200);
  EXPECT_EQ(cut.msg, L"cut");
  EXPECT_EQ(Narrow(cut.data), R"({"code":200,"msg":"cut"})");

  const HttpResp broken = PostAndWait(server.Url("/zero-inside"));
  EXPECT_EQ(broken.code, -501);
  EXPECT_TRUE(broken.data.empty());
}

TEST_F(HttpGateway, StatusOtherThan200IsAnHttpFailure) {
  LogCapture::Install();
  LoopbackServer server;
  const std::string json = R"({"code":200,"msg":"ok"})";
  for (const int status : {201, 302, 404, 500}) {
    SCOPED_TRACE(status);
    const std::string path = "/status-" + std::to_string(status);
    server.SetReply(path, {status, json});
    const HttpResp r = PostAndWait(server.Url(path));
    EXPECT_EQ(r.code, -502);
    EXPECT_EQ(Narrow(r.msg), "Http Code:" + std::to_string(status) + ", Msg:");
    EXPECT_TRUE(r.data.empty());
  }
  // No body is logged for a failed status, and the redirect is not followed.
  EXPECT_TRUE(LogCapture::Contains("\n" + kReplyUrlLabel + server.Url("/status-302") + kReplyStatusLabel + "302\n\n"));
  EXPECT_EQ(server.Requests().size(), 4u);
}

TEST_F(HttpGateway, RefusedConnectionCarriesTheTransportMessage) {
  LogCapture::Install();
  zarntest::RefusingPort refusing;
  const std::string url = "https://127.0.0.1:" + std::to_string(refusing.port()) + "/sdkapi/v22/init.do";
  const HttpResp r = PostAndWait(url);
  EXPECT_EQ(r.code, -502);
  const std::string msg = Narrow(r.msg);
  EXPECT_EQ(msg.rfind("Http Code:, Msg:" + kConnectFailedUtf8, 0), 0u) << msg;
  EXPECT_TRUE(r.data.empty());
  EXPECT_TRUE(LogCapture::Contains("\n" + kReplyUrlLabel + url + kReplyStatusLabel + "0\n\n"));
}

TEST_F(HttpGateway, EmptyCallbackIsNeverCalledAndTheWorkersCarryOn) {
  LoopbackServer server;
  server.SetDefaultReply({200, R"({"code":200})"});
  for (int i = 0; i < 8; ++i) CZarnHttp::PostCallback(server.Url("/no-callback"), "x=1", ZarnSdk::HttpCallback());
  ASSERT_TRUE(server.WaitForRequests("/no-callback", 8));
  const HttpResp r = PostAndWait(server.Url("/after"));
  EXPECT_EQ(r.code, 200);
}

TEST(EnvelopeDecoding, StatusTextIsReadAsLeadingDigits) {
  const auto decode = [](const std::string& status, const std::string& body, const std::string& err = "") {
    sion::AsyncResponse response;
    response.resp.statusCode = status;
    response.resp.body.assign(body.begin(), body.end());
    response.err = err;
    return CZarnHttp::DecodeResponse(response);
  };
  const std::string ok = R"({"code":7})";
  EXPECT_EQ(decode("200", ok).code, 7);
  EXPECT_EQ(decode("0200", ok).code, 7);
  EXPECT_EQ(decode("+200", ok).code, 7);
  EXPECT_EQ(decode("200abc", ok).code, 7);
  EXPECT_EQ(Narrow(decode("2000000000000000000200", ok).msg), "Http Code:2000000000000000000200, Msg:");
  EXPECT_EQ(Narrow(decode("4294967496", ok).msg), "Http Code:4294967496, Msg:");
  EXPECT_EQ(Narrow(decode("", "", "boom").msg), "Http Code:, Msg:boom");
  EXPECT_EQ(decode("", "", "").code, -502);
}
