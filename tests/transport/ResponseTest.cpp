// Response framing: where a reply ends, how its head is read, and how chunking is undone,
// fed in the pieces a connection would deliver.
#include <gtest/gtest.h>

#include <stdexcept>

#include "transport/Error.h"
#include "transport/Response.h"

namespace {

using namespace std::string_literals;

struct Fed {
  sion::Response response;
  bool complete = false;
};

// Does what the connection does with each read: head phase into `source`, then body phase.
Fed Feed(const std::vector<std::string>& reads) {
  Fed fed;
  sion::Response& r = fed.response;
  bool headDone = false;
  for (const auto& bytes : reads) {
    if (!headDone) {
      r.source.insert(r.source.end(), bytes.begin(), bytes.end());
      if (!r.IsHeaderComplete()) continue;
      r.ParseHeader();
      headDone = true;
    } else {
      r.body.insert(r.body.end(), bytes.begin(), bytes.end());
    }
    if (r.IsBodyComplete()) {
      fed.complete = true;
      r.DecodeChunked();
      return fed;
    }
  }
  return fed;
}

std::string Body(const sion::Response& r) { return std::string(r.body.begin(), r.body.end()); }

template <typename Exception>
std::string MessageOf(const std::vector<std::string>& reads) {
  try {
    Feed(reads);
  } catch (const Exception& e) {
    return e.what();
  }
  return "<no exception>";
}

TEST(ResponseHead, StatusLineAndHeaderFields) {
  Fed fed = Feed({"HTTP/1.1 404 Not Found\r\nContent-Type:  application/json \r\n"
                  "Date: Tue, 01 Jan 2030 10:11:12 GMT\r\nno colon here\r\nEmpty:\r\n"
                  "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab"});
  ASSERT_TRUE(fed.complete);
  const sion::Response& r = fed.response;
  EXPECT_EQ(r.version, "HTTP/1.1");
  EXPECT_EQ(r.statusCode, "404");
  EXPECT_EQ(r.statusMessage, "Not Found");
  EXPECT_EQ(r.header.Get("content-type"), "application/json");
  EXPECT_EQ(r.header.Get("date"), "Tue, 01 Jan 2030 10:11:12 GMT");
  EXPECT_EQ(r.header.Fields().size(), 4u);  // the line without colon and the empty value are dropped
  EXPECT_EQ(r.contentLength, 2);            // the later length wins
  EXPECT_EQ(Body(r), "ab");

  // An empty reason phrase is legal HTTP/1.1.
  for (const char* status : {"HTTP/1.1 200 \r\n", "HTTP/1.1 200\r\n"}) {
    Fed bare = Feed({std::string(status) + "Content-Length: 0\r\n\r\n"});
    EXPECT_TRUE(bare.complete) << status;
    EXPECT_EQ(bare.response.statusCode, "200");
    EXPECT_EQ(bare.response.statusMessage, "");
  }

  for (const std::string& bad : {"HTTP/1.1\r\n\r\n"s, "\r\n\r\n"s, "SSH-2.0-OpenSSH\r\n\r\n"s, "HTTP/1.1 2000 OK\r\n\r\n"s,
                                  "HTTP/1.1 20x OK\r\n\r\n"s, "HTTP/1.1 200 OK\r\nA: \0b\r\n\r\n"s}) {
    const std::string text = MessageOf<sion::Error>({bad});
    EXPECT_EQ(text.rfind("解析错误\n", 0), 0u) << bad;
  }
}

TEST(ResponseHead, LimitsAndBadLengths) {
  EXPECT_EQ(MessageOf<sion::Error>({"HTTP/1.1 200 OK\r\nX: " + std::string(70 * 1024, 'x')}), "响应头超过64KiB上限");
  EXPECT_EQ(MessageOf<sion::Error>({"HTTP/1.1 200 OK\r\nX: " + std::string(70 * 1024, 'x') + "\r\n\r\n"}),
            "响应头超过64KiB上限");
  EXPECT_EQ(MessageOf<sion::Error>({"HTTP/1.1 200 OK\r\nContent-Length: 16777217\r\n\r\n"}), "响应体超过16MiB上限");
  for (const char* length : {"-1", "abc", "12abc", "+5"}) {
    EXPECT_EQ(MessageOf<std::invalid_argument>({std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + length + "\r\n\r\n"}),
              "invalid stoi argument")
        << length;
  }
  EXPECT_EQ(MessageOf<std::out_of_range>({"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n"}),
            "stoi argument out of range");
}

TEST(ResponseBody, ContentLengthFraming) {
  // Head and whole body in one read complete at once.
  EXPECT_TRUE(Feed({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}).complete);

  // Ten bytes over three reads complete with the read that brings the tenth; a head split
  // inside its blank line is still found.
  Fed split = Feed({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r", "\n012", "3456", "789"});
  EXPECT_TRUE(split.complete);
  EXPECT_EQ(Body(split.response), "0123456789");
  EXPECT_FALSE(Feed({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n012", "3456", "78"}).complete);

  // Bytes beyond the announced length are dropped; a zero byte ends StrBody.
  Fed extra = Feed({"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\na\0bEXTRA"s});
  ASSERT_TRUE(extra.complete);
  EXPECT_EQ(extra.response.body.size(), 3u);
  EXPECT_EQ(extra.response.StrBody(), "a");

  // Without length or chunking the body runs to the peer's close.
  Fed open = Feed({"HTTP/1.1 200 OK\r\n\r\nsome", "more"});
  EXPECT_FALSE(open.complete);
  EXPECT_TRUE(open.response.IsCloseDelimited());
  EXPECT_EQ(Body(open.response), "somemore");

  // 204 and 304 never carry a body; 1xx is interim.
  EXPECT_TRUE(Feed({"HTTP/1.1 204 No Content\r\n\r\n"}).complete);
  Fed interim = Feed({"HTTP/1.1 100 Continue\r\n\r\n"});
  EXPECT_TRUE(interim.response.IsInterim());
}

TEST(ResponseBody, ChunkedFramingAndDecoding) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n";
  Fed hello = Feed({head + "5\r\nhello\r\n0\r\n\r\n"});
  ASSERT_TRUE(hello.complete);
  EXPECT_TRUE(hello.response.isChunked);
  EXPECT_EQ(Body(hello.response), "hello");
  EXPECT_EQ(hello.response.contentLength, 5);

  // Empty body, extensions, upper-case hex, a trailer, a coding list ending in chunked, and a
  // Content-Length that chunking overrides.
  EXPECT_TRUE(Feed({head + "0\r\n\r\n"}).complete);
  Fed rich = Feed({"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: 3\r\n\r\n"
                   "A;name=val\r\n0123456789\r\n00\r\nX-Checksum: 1\r\n\r\n"});
  ASSERT_TRUE(rich.complete);
  EXPECT_EQ(Body(rich.response), "0123456789");

  // Fed one byte at a time it completes exactly at the last byte.
  const std::string wire = head + "3\r\nabc\r\n2\r\nde\r\n0\r\nT: x\r\n\r\n";
  std::vector<std::string> bytes;
  for (char c : wire) bytes.emplace_back(1, c);
  Fed trickled = Feed(bytes);
  EXPECT_TRUE(trickled.complete);
  EXPECT_EQ(Body(trickled.response), "abcde");
  bytes.pop_back();
  EXPECT_FALSE(Feed(bytes).complete);

  // Chunked only when it is the last coding.
  EXPECT_FALSE(Feed({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n0\r\n\r\n"}).response.isChunked);
}

TEST(ResponseBody, MalformedChunkingFailsWithoutReadingPastTheData) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(MessageOf<std::invalid_argument>({head + "zz\r\n"}), "invalid stoi argument");
  EXPECT_EQ(MessageOf<std::invalid_argument>({head + "-5\r\nhello\r\n"}), "invalid stoi argument");
  EXPECT_EQ(MessageOf<std::out_of_range>({head + "FFFFFFFFFF\r\n"}), "stoi argument out of range");
  EXPECT_EQ(MessageOf<sion::Error>({head + "3\r\nabcX\r\n"}), "chunked解析错误:块数据后缺少CRLF");
  EXPECT_EQ(MessageOf<sion::Error>({head + std::string(5000, '1')}), "chunked解析错误:块大小行过长");
  EXPECT_EQ(MessageOf<sion::Error>({head + "7FFFFFFF\r\n"}), "响应体超过16MiB上限");

  // A size beyond the bytes that follow just waits for more; decoding it as it stands fails
  // instead of reading past the end.
  Fed shortChunk = Feed({head + "ff\r\nabc"});
  EXPECT_FALSE(shortChunk.complete);
  try {
    shortChunk.response.DecodeChunked();
    ADD_FAILURE() << "no exception";
  } catch (const sion::Error& e) {
    EXPECT_STREQ(e.what(), "chunked解析错误:数据不完整");
  }
}

}  // namespace
