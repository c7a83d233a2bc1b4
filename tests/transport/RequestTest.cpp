// The request side without a server: what a URL is taken to mean, what is refused before any
// connection, and the exact bytes written for a request.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "transport/Request.h"

namespace {

enum How { kParse, kSend, kSendWithoutMethod };

// "<scheme> <host> <port> <target>" as parsed, or "! <error text>". The URLs given to Send must
// be refused by its own checks, before it connects anywhere.
std::string Parsed(const std::string& url, How how) {
  sion::Request request;
  if (how != kSendWithoutMethod) request.SetMethod(sion::Method::Get);
  try {
    if (how == kParse) request.ParseUrl(url);
    if (how != kParse) request.Send(url);
    return request.protocol + " " + request.host + " " + std::to_string(request.port) + " " + request.path;
  } catch (const std::exception& e) {
    return std::string("! ") + e.what();
  }
}

TEST(Request, UrlsAreReadAsTheyAlwaysHaveBeen) {
  const std::string bad = "! url格式不对或者是用了除http(s)外的协议";
  const struct Case {
    Case(std::string u, std::string e, How h = kParse) : url(u), expect(e), how(h) {}
    std::string url;
    std::string expect;
    How how;
  } cases[] = {
      {"https://api.example.com/v1/login", "https api.example.com 443 /v1/login"},
      {"http://10.0.0.1:8080", "http 10.0.0.1 8080 /"},
      {"http://h/p?x=1&y=2#frag", "http h 80 /p?x=1&y=2#frag"},
      {"https://h:00443/", "https h 443 /"},
      {"http://a_b-c.d/%20", "http a_b-c.d 80 /%20"},
      {"https://", "https  443 /"},
      {"ftp://h/x", bad},
      {"HTTP://h/x", bad},
      {"http:/h", bad},
      {"http://h/\r\nX: y", bad},
      {"http://h/a\nb", bad},
      // what follows the host's letters is the target: user-info and a port that is no number
      {"http://user:pw@host/x", "http user 80 pw@host/x"},
      {"https://h:abc/x", "https h 443 abc/x"},
      {"http://h:99999999999/", "! stoi argument out of range"},
      {"http://127.0.0.1:0/", "! 端口超出范围(1-65535):0", kSend},
      {"http://127.0.0.1:65536/", "! 端口超出范围(1-65535):65536", kSend},
      {"http://:81/x", "! 地址转换错误", kSend},
      {"http://1234:81/x", "! 地址转换错误", kSend},
      {"ftp://bad", "! 请求方法未定义", kSendWithoutMethod},  // before the URL is looked at
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.url, c.how), c.expect) << c.url;
}

TEST(Request, IsSerialisedWithTheCallersFieldsFirstThenHostAndLength) {
  sion::Header header;
  header.Add("content-type", "application/x-www-form-urlencoded");
  header.Add("X-Twice", "1");
  header.Add("X-Twice", "2");
  sion::Request request;
  request.SetUrl("https://api.example.com/pay?x=1").SetMethod(sion::Method::Post).SetHeader(header).SetBody("a=1&b=2");
  request.SetMethod(static_cast<sion::Method>(7));  // outside the enumeration: no change
  request.ParseUrl(request.url);
  request.BuildMessage();
  EXPECT_EQ(std::string(request.message.begin(), request.message.end()),
            "POST /pay?x=1 HTTP/1.1\r\n"
            "content-type: application/x-www-form-urlencoded\r\n"
            "X-Twice: 1\r\n"
            "X-Twice: 2\r\n"
            "Host: api.example.com\r\n"
            "Content-Length: 7\r\n"
            "\r\n"
            "a=1&b=2");
}

}  // namespace
