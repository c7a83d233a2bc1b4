#include "transport/ResponseReader.h"

#include <string>
#include <utility>
#include <vector>

#include "transport/Error.h"
#include "transport/Messages.h"

namespace sion {

bool ResponseReader::Feed(const char* data, std::size_t size) {
  if (done_) return true;
  std::vector<char>& to = headParsed_ ? response_.body : response_.source;
  to.insert(to.end(), data, data + size);
  return Advance();
}

bool ResponseReader::Advance() {
  while (!headParsed_) {
    if (!response_.IsHeaderComplete()) return false;
    response_.ParseHeader();
    if (!response_.IsInterim()) {
      headParsed_ = true;
      break;
    }
    if (++interimReplies_ > kMaxInterimReplies) {
      throw Error(std::string(messages::kParseError) + "\n" + response_.StrSource(), FailureKind::Protocol);
    }
    // The real reply may already have started in the bytes read with the interim one.
    std::vector<char> rest(response_.source.begin() + static_cast<std::ptrdiff_t>(response_.headerEnd),
                           response_.source.end());
    response_ = Response();
    response_.source = std::move(rest);
  }
  done_ = response_.IsBodyComplete();
  return done_;
}

void ResponseReader::FeedEnd() {
  if (done_) return;
  if (!headParsed_ || !response_.IsCloseDelimited()) throw PeerConnectionClose();
  response_.contentLength = static_cast<int32_t>(response_.body.size());
  done_ = true;
}

Response ResponseReader::Take() {
  response_.DecodeChunked();
  return std::move(response_);
}

}  // namespace sion
