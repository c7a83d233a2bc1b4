// Reads one reply from the bytes of a connection as they arrive: the connection pushes every
// read into Feed, and the end of the stream into FeedEnd; the reader knows where the reply ends
// (head, interim 1xx replies, Content-Length, chunked or close-delimited bodies) and applies the
// transport's size limits. One reply per reader; one thread at a time.
#pragma once

#include <cstddef>

#include "transport/Response.h"

namespace sion {

class ResponseReader {
 public:
  // Interim (1xx) replies allowed before the real one; a peer sending them for ever is hostile.
  static constexpr int kMaxInterimReplies = 8;

  // Takes the bytes of one read. True once the whole reply is in (bytes after its end are
  // dropped). Throws sion::Error (and std::invalid_argument / std::out_of_range for bad numbers)
  // for a malformed reply or one beyond the size limits.
  bool Feed(const char* data, std::size_t size);
  // The peer ended the stream: completes a reply whose body runs to the end of the stream,
  // else throws sion::PeerConnectionClose.
  void FeedEnd();
  bool Done() const { return done_; }
  // Once Done, before Take: the connection may carry the next request (Response::AllowsReuse).
  bool ConnectionReusable() const { return done_ && response_.AllowsReuse(); }
  // The complete reply, body de-chunked. Only once Done().
  Response Take();

 private:
  bool Advance();

  Response response_;
  bool headParsed_ = false;
  int interimReplies_ = 0;
  bool done_ = false;
};

}  // namespace sion
