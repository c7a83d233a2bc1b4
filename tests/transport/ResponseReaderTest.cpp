// Where a reply ends and what it says, as the push-style reader sees it: every case is fed whole
// and byte by byte, and must give the same outcome however the connection splits its reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <locale>
#include <string>
#include <vector>

#include "Os.h"
#include "transport/ResponseReader.h"
#include "transport/TransportSettings.h"

namespace {

using namespace std::string_literals;

// The reply as a caller sees it - "<status> <reason> [<fields>] <body>" - or "! <error text>",
// or "incomplete", after feeding `wire` in reads of `piece` bytes and then, with `close`, the
// end of the stream.
std::string Outcome(const std::string& wire, bool close, std::size_t piece) {
  sion::ResponseReader reader;
  try {
    bool done = false;
    for (std::size_t at = 0; at < wire.size() && !done; at += piece) {
      done = reader.Feed(wire.data() + at, std::min(piece, wire.size() - at));
    }
    if (!done && !close) return "incomplete";
    if (!done) reader.FeedEnd();
    const sion::Response reply = reader.Take();
    std::string text = reply.statusCode + " " + reply.statusMessage + " [";
    for (const auto& [key, value] : reply.header.Fields()) text += key + "=" + value + ";";
    return text + "] " + std::string(reply.body.begin(), reply.body.end());
  } catch (const std::exception& e) {
    return "! "s + e.what();
  }
}

struct Case {
  Case(std::string w, std::string e, bool c = false, std::string a = "") : wire(w), expect(e), close(c), after(a) {}
  std::string wire;
  std::string expect;
  bool close;         // the peer ends the stream after the bytes
  std::string after;  // bytes the server sends beyond the reply
};

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

std::string Times(int count, const std::string& text) { return count > 0 ? text + Times(count - 1, text) : ""; }

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      // head: status line, fields lower-cased and trimmed, lines without a key dropped
      {"HTTP/1.1 404 Not Found\r\nContent-Type:  application/json \r\nno colon\r\nEmpty:\r\nLocation: http://h:1/\r\n"
       "Content-Length: 2\r\nContent-Length:  2\r\n\r\nab",
       "404 Not Found [content-type=application/json;location=http://h:1/;content-length=2;content-length=2;] ab"},
      {"HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n", "200  [content-length=0;] "},
      // Content-Length
      {kOk + "Content-Length: 3\r\n\r\na\0b"s, "200 OK [content-length=3;] a\0b"s, false, "EXTRA"},
      {kOk + "Content-Length: 10\r\n\r\nshort", "! ", true},
      {kOk + "Content-Length: 16777216\r\n\r\n", "incomplete"},
      {kOk + "Content-Length: 16777217\r\n\r\n", "! 响应体超过16MiB上限"},
      {kOk + "Content-Length: 99999999999\r\n\r\n", "! stoi argument out of range"},
      // no length, no chunking: the body runs to the end of the stream
      {kOk + "\r\nuntil the close", "200 OK [] until the close", true},
      {kOk + "\r\nuntil the close", "incomplete"},
      {kOk + "\r\n" + std::string(sion::kMaxBodyBytes + 1, 'x'), "! 响应体超过16MiB上限", true},
      {kOk + "Content-Le", "! ", true},
      {"", "! ", true},
      // replies that never carry a body
      {"HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", "204 No Content [content-length=5;] ", false, "hello"},
      {"HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n",
       "304 Not Modified [transfer-encoding=chunked;] "},
      {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", "101 Switching Protocols [upgrade=x;] "},
      // chunked: extensions, upper-case hex, blanks before an extension, a trailer
      {kOk + "Transfer-Encoding: Chunked\r\n\r\n4;x=y\r\nwiki\r\nA \t;q\r\n0123456789\r\n00\r\nX-Sum: 1\r\n\r\n",
       "200 OK [transfer-encoding=Chunked;] wiki0123456789"},
      {kChunked + "0\r\n\r\n", "200 OK [transfer-encoding=chunked;] "},
      {kOk + "Transfer-Encoding: gzip\r\nContent-Length: 3\r\nTransfer-Encoding: x, chunked\r\n\r\n"
             "5\r\nhello\r\n0\r\n\r\n",
       "200 OK [transfer-encoding=gzip;content-length=3;transfer-encoding=x, chunked;] hello"},
      // chunked only as the last coding; then neither it nor the length delimits the body
      {kOk + "Transfer-Encoding: chunked, gzip\r\nContent-Length: 3\r\n\r\n0\r\n\r\n",
       "200 OK [transfer-encoding=chunked, gzip;content-length=3;] 0\r\n\r\n", true},
      {kChunked + "5\r\nhel", "! ", true},
      {kChunked + "zz\r\n", "! invalid stoi argument"},
      {kChunked + "-5\r\nhello\r\n", "! invalid stoi argument"},
      {kChunked + "5x\r\nhello\r\n", "! invalid stoi argument"},
      {kChunked + "FFFFFFFFFF\r\n", "! stoi argument out of range"},
      {kChunked + "1000001\r\n", "! 响应体超过16MiB上限"},
      {kChunked + "3\r\nabcX\r\n", "! chunked解析错误:块数据后缺少CRLF"},
      {kChunked + std::string(5000, '1'), "! chunked解析错误:块大小行过长"},
      {kChunked + "0\r\nX: " + std::string(sion::kMaxHeadBytes, 'x'), "! chunked解析错误:尾部字段过长"},
      // interim replies come before the real one, within a limit
      {kContinue + "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + kOk + "Content-Length: 4\r\n\r\nreal",
       "200 OK [content-length=4;] real"},
      {Times(8, kContinue) + kOk + "Content-Length: 0\r\n\r\n", "200 OK [content-length=0;] "},
      {Times(9, kContinue), "! 解析错误\n" + kContinue},
      // head size
      {kOk + "X: " + std::string(sion::kMaxHeadBytes, 'x'), "! 响应头超过64KiB上限"},
      {kOk + "A: \0b\r\n\r\n"s, "! 解析错误\n" + kOk + "A: "},
  };
  for (const char* length : {"-1", "abc", "12abc", "+5", ""}) {
    cases.push_back({kOk + "Content-Length: " + length + "\r\n\r\n", "! invalid stoi argument"});
  }
  for (const std::string head : {"HTTP/1.1\r\n\r\n", "\r\n\r\n", "SSH-2.0-OpenSSH_9.2\r\n\r\n", "ICY 200 OK\r\n\r\n",
                                 "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/1.1 20x OK\r\n\r\n",
                                 "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n"}) {
    cases.push_back({head, "! 解析错误\n" + head});
  }
  // A head of exactly the limit is read; one byte more is refused.
  const std::string fill(sion::kMaxHeadBytes - kOk.size() - 7, 'x');
  cases.push_back({kOk + "X: " + fill + "\r\n\r\n", "200 OK [x=" + fill + ";] ", true});
  cases.push_back({kOk + "X: " + fill + "y\r\n\r\n", "! 响应头超过64KiB上限", true});
  return cases;
}

TEST(ResponseReader, FramesEveryReplyTheSameWayHoweverItIsSplit) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.wire.substr(0, 120));
    // Byte by byte; the longest wires in pieces of a prime size, so that a run stays quick.
    const std::size_t piece = c.wire.size() > 8192 ? 1021 : 1;
    EXPECT_EQ(Outcome(c.wire + c.after, c.close, c.wire.size() + c.after.size() + 1), c.expect);
    EXPECT_EQ(Outcome(c.wire + c.after, c.close, piece), c.expect);
    // A reply that ends by itself is not complete one byte before its end.
    if (!c.close && !c.wire.empty() && c.expect[0] != '!' && c.expect != "incomplete") {
      EXPECT_EQ(Outcome(c.wire.substr(0, c.wire.size() - 1), false, piece), "incomplete");
    }
  }
}

// Header names fold to lower case by ASCII rules whatever the game's locale: Turkish folds 'I'
// to a dotless i, which would hide TRANSFER-ENCODING from a locale-bound fold.
TEST(ResponseReader, HeaderNamesMatchUnderATurkishLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* turkish = zarntest::os::TurkishLocaleName();
  ASSERT_NE(std::setlocale(LC_ALL, turkish), nullptr) << "scripts/setup installs locales-all";
  // mingw's C++ library has no named locales: there the C locale alone is Turkish.
  std::locale previous;
  try {
    previous = std::locale::global(std::locale(turkish));
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Outcome(kOk + "TRANSFER-ENCODING: CHUNKED\r\n\r\n2\r\nok\r\n0\r\n\r\n", false, 1),
            "200 OK [transfer-encoding=CHUNKED;] ok");
  std::locale::global(previous);
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
