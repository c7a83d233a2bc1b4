// The request side: text helpers, the header list, URL parsing and the bytes written.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "transport/Header.h"
#include "transport/Request.h"
#include "transport/TextUtil.h"

namespace {

using Pieces = std::vector<std::string>;
using sion::Split;

TEST(TextUtil, SplitAndTrimFollowTheParsersRules) {
  EXPECT_EQ(Split("HTTP/1.1 404 Not Found", " ", 2), (Pieces{"HTTP/1.1", "404", "Not Found"}));
  EXPECT_EQ(Split("a::b", ":", 1), (Pieces{"a", ":b"}));
  EXPECT_EQ(Split("key:", ":", 1), (Pieces{"key"}));           // empty pieces are dropped
  EXPECT_EQ(Split("", "\r\n"), (Pieces{""}));                   // no occurrence: the text itself
  EXPECT_EQ(Split("\r\n\r\n", "\r\n"), Pieces{});
  EXPECT_EQ(Split("abc", ""), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(Split("a b c", " ", 0), (Pieces{"a b c"}));
  EXPECT_EQ(Split("aaa", "aa"), (Pieces{"a"}));

  EXPECT_EQ(sion::Trim("  application/json \r\n"), "application/json");
  EXPECT_EQ(sion::Trim("\tx\t"), "\tx\t");  // tabs are not in the set
  EXPECT_EQ(sion::Trim(" \r\n "), " \r\n ");  // only trim characters: unchanged
  EXPECT_EQ(sion::Trim(""), "");
}

TEST(Header, GetLowerCasesTheKeyAndFindsTheLastMatch) {
  sion::Header header;
  header.Add("content-length", "1");
  header.Add("Content-Length", "2");
  header.Add("content-length", "3");
  EXPECT_EQ(header.Get("CONTENT-LENGTH"), "3");
  EXPECT_EQ(header.Fields().size(), 3u);

  sion::Header stored;
  stored.Add("Content-Length", "5");
  EXPECT_EQ(stored.Get("Content-Length"), "");  // stored keys are not lower-cased
  EXPECT_EQ(stored.Get("missing"), "");
}

// The hand-written URL parser must give exactly the groups of the regular expression that
// URLs have always been matched with.
TEST(RequestUrl, MatchesTheReferenceExpression) {
  const std::regex reference(R"(^(http|https)://([\w.-]*):?(\d*)(/?.*)$)");
  const std::vector<std::string> urls = {
      "https://api.example.com/v1/login", "http://10.0.0.1:8080", "http://h/p?x=1&y=2#frag",
      "http://user:pw@host/x", "https://h:abc/x", "http://:81/x", "https://", "http://h:80:90/a b",
      "http://h\xe4\xb8\xad/x", "ftp://h/x", "HTTP://h/x", "http:/h", "http://h/\r\nX: y", "http://h/a\nb",
      "https://h:00443/", "http://a_b-c.d/%20"};
  for (const auto& url : urls) {
    SCOPED_TRACE(url);
    std::smatch match;
    const bool expected = std::regex_match(url, match, reference);
    sion::Request request;
    if (!expected) {
      EXPECT_THROW(request.ParseUrl(url), std::invalid_argument);
      continue;
    }
    ASSERT_NO_THROW(request.ParseUrl(url));
    EXPECT_EQ(request.protocol, match[1].str());
    EXPECT_EQ(request.host, match[2].str());
    const int defaultPort = match[1] == "https" ? 443 : 80;
    EXPECT_EQ(request.port, match[3].length() == 0 ? defaultPort : std::stoi(match[3].str()));
    EXPECT_EQ(request.path, match[4].length() == 0 ? "/" : match[4].str());
  }
}

TEST(RequestUrl, ChecksComeBeforeAnyNetworkUse) {
  sion::Request noMethod;
  try {
    noMethod.Send("ftp://bad");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "请求方法未定义");  // the method is checked before the URL
  }

  sion::Request request;
  request.SetMethod(sion::Method::Get);
  try {
    request.Send("ftp://host/x");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "url格式不对或者是用了除http(s)外的协议");
  }
  try {
    request.Send("http://h:99999999999/");
    FAIL() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "stoi argument out of range");
  }
  for (const char* url : {"http://127.0.0.1:0/", "http://127.0.0.1:65536/"}) {
    try {
      request.Send(url);
      FAIL() << url;
    } catch (const std::out_of_range& e) {
      EXPECT_EQ(std::string(e.what()).rfind("端口超出范围(1-65535):", 0), 0u) << e.what();
    }
  }
  sion::Request viaProxy;
  viaProxy.SetMethod(sion::Method::Get).useProxy = true;
  viaProxy.proxyHost = "127.0.0.1";
  EXPECT_THROW(viaProxy.Send("http://127.0.0.1:80/"), std::out_of_range);  // proxy port 0
}

TEST(RequestMessage, IsWrittenExactlyAsTheServerExpects) {
  sion::Header header;
  header.Add("content-type", "application/x-www-form-urlencoded");
  header.Add("X-Twice", "1");
  header.Add("X-Twice", "2");
  sion::Request request;
  request.SetUrl("https://api.example.com/pay?x=1").SetMethod(sion::Method::Post).SetHeader(header).SetBody("a=1&b=2");
  request.SetMethod(static_cast<sion::Method>(7));  // outside the enumeration: unchanged
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

  sion::Request get;
  get.SetUrl("http://10.0.0.1:8080").SetMethod(sion::Method::Delete);
  get.useProxy = true;
  get.ParseUrl(get.url);
  get.BuildMessage();
  EXPECT_EQ(std::string(get.message.begin(), get.message.end()),
            "DELETE http://10.0.0.1:8080 HTTP/1.1\r\nHost: 10.0.0.1\r\nContent-Length: 0\r\n\r\n");
}

}  // namespace
