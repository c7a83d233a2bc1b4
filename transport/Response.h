// The reply of one request and the rules that decide where it ends. The connection feeds the
// bytes it reads into `source` (head phase) and `body` (body phase) and asks, in this order:
// IsHeaderComplete, ParseHeader, IsBodyComplete, and finally DecodeChunked. Parse failures are
// thrown (sion::Error, std::invalid_argument, std::out_of_range). Copyable; one thread at a time.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "transport/ChunkedDecoder.h"
#include "transport/Header.h"

namespace sion {

class Response {
 public:
  static constexpr uint64_t kHeaderEndNotFound = std::numeric_limits<uint64_t>::max();

  bool isChunked = false;
  int32_t contentLength = 0;     // announced length; after DecodeChunked, the decoded length
  std::vector<char> source;      // every byte read in the head phase
  std::string version;
  std::string statusCode;        // e.g. "200", as text
  std::string statusMessage;     // reason phrase, may be empty
  std::vector<char> body;        // raw body bytes; de-chunked by DecodeChunked
  Header header;                 // keys lower-cased, arrival order
  uint64_t headerEnd = kHeaderEndNotFound;  // offset in `source` just past the blank line

  // Body (or source) up to its first zero byte.
  std::string StrBody() const;
  std::string StrSource() const;

  // True once `source` holds the blank line ending the head. Throws sion::Error when the head
  // grows beyond the transport's head limit without ending.
  bool IsHeaderComplete();
  // Parses the status line and header fields and moves the bytes after the head into `body`.
  void ParseHeader();
  // True once `body` holds the whole body: Content-Length bytes (any excess is dropped), or a
  // complete chunked stream. Throws on malformed chunking or a body beyond the body limit.
  bool IsBodyComplete();
  // Replaces a chunked `body` by its decoded bytes; no-op for other replies or when done.
  void DecodeChunked();

  // The body has neither a length nor chunking: it ends when the peer closes the connection.
  bool IsCloseDelimited() const;
  // A 1xx interim reply (other than 101): the real reply follows on the same connection.
  bool IsInterim() const;
  // Once the body is complete: the connection may carry another request. The reply is
  // HTTP/1.1, did not ask to close (Connection: close), did not switch protocols, ended by its
  // own framing and came without any byte beyond its end (a connection in an unknown state
  // would hand those bytes to the next request as the start of its reply).
  bool AllowsReuse() const;

 private:
  uint64_t headScanFrom_ = 0;
  bool hasContentLength_ = false;
  bool bodyless_ = false;
  bool decoded_ = false;
  bool overran_ = false;  // bytes arrived after the end of the body
  ChunkedDecoder chunked_;
};

}  // namespace sion
