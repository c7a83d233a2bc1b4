#include "transport/Response.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/TextUtil.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

std::string UpToFirstZero(const std::vector<char>& bytes) {
  return std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0'));
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Transfer-Encoding lists codings in the order they were applied; only a final "chunked"
// delimits the body.
bool LastCodingIsChunked(const std::string& transferEncoding) {
  std::size_t comma = transferEncoding.rfind(',');
  std::string last = comma == std::string::npos ? transferEncoding : transferEncoding.substr(comma + 1);
  return AsciiLower(Trim(last, " \t")) == "chunked";
}

int32_t ParseContentLength(const std::string& value) {
  std::string digits = Trim(value, " \t");
  if (!AllDigits(digits)) throw std::invalid_argument(messages::kInvalidNumber);
  int64_t length = 0;
  for (char c : digits) {
    length = length * 10 + (c - '0');
    if (length > INT32_MAX) throw std::out_of_range(messages::kNumberOutOfRange);
  }
  if (static_cast<uint64_t>(length) > kMaxBodyBytes) throw Error(messages::kBodyTooLarge, FailureKind::Protocol);
  return static_cast<int32_t>(length);
}

}  // namespace

std::string Response::StrBody() const { return UpToFirstZero(body); }

std::string Response::StrSource() const { return UpToFirstZero(source); }

bool Response::IsHeaderComplete() {
  if (headerEnd != kHeaderEndNotFound) return true;
  static constexpr char kBlankLine[] = "\r\n\r\n";
  auto from = source.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(headScanFrom_, source.size()));
  auto at = std::search(from, source.end(), kBlankLine, kBlankLine + 4);
  if (at != source.end()) {
    headerEnd = static_cast<uint64_t>(at - source.begin()) + 4;
    if (headerEnd > kMaxHeadBytes) throw Error(messages::kHeadTooLarge, FailureKind::Protocol);
    return true;
  }
  if (source.size() > kMaxHeadBytes) throw Error(messages::kHeadTooLarge, FailureKind::Protocol);
  // The blank line may straddle this read and the next one.
  headScanFrom_ = source.size() >= 3 ? source.size() - 3 : 0;
  return false;
}

void Response::ParseHeader() {
  if (!IsHeaderComplete()) throw Error(std::string(messages::kParseError) + "\n" + StrSource(), FailureKind::Protocol);
  const auto headBytes = static_cast<std::ptrdiff_t>(std::min<uint64_t>(headerEnd, source.size()));
  const std::string head(source.begin(), source.begin() + headBytes);
  const auto fail = [this]() { return Error(std::string(messages::kParseError) + "\n" + StrSource(), FailureKind::Protocol); };

  const std::vector<std::string> lines = Split(head, "\r\n");
  if (lines.empty() || head.find('\0') != std::string::npos) throw fail();

  // "HTTP/1.1 200 OK"; the reason phrase may be missing, the code must be three digits.
  const std::vector<std::string> status = Split(lines.front(), " ", 2);
  if (status.size() < 2 || status.size() > 3) throw fail();
  version = Trim(status[0]);
  statusCode = Trim(status[1]);
  statusMessage = status.size() == 3 ? Trim(status[2]) : std::string();
  if (version.rfind("HTTP/", 0) != 0 || statusCode.size() != 3 || !AllDigits(statusCode)) throw fail();

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> pieces = Split(lines[i], ":", 1);
    if (pieces.size() == 2) header.Add(AsciiLower(Trim(pieces[0])), Trim(pieces[1]));
  }

  const int code = std::stoi(statusCode);
  bodyless_ = code / 100 == 1 || code == 204 || code == 304;
  const std::string transferEncoding = header.Get("transfer-encoding");
  isChunked = !bodyless_ && LastCodingIsChunked(transferEncoding);
  // With any transfer coding the length header is meaningless and may even be a smuggling aid.
  // Lengths that disagree make the framing invalid (RFC 9112 section 6.3): which one would
  // another reader of the same bytes believe?
  const std::string length = header.Get("content-length");
  for (const auto& [name, value] : header.Fields()) {
    if (name == "content-length" && Trim(value, " \t") != Trim(length, " \t")) throw fail();
  }
  if (!bodyless_ && transferEncoding.empty() && !length.empty()) {
    contentLength = ParseContentLength(length);
    hasContentLength_ = true;
  }

  body.insert(body.end(), source.begin() + headBytes, source.end());
}

bool Response::IsBodyComplete() {
  if (headerEnd == kHeaderEndNotFound) return false;
  if (bodyless_) {
    overran_ = !body.empty();
    body.clear();
    return true;
  }
  if (hasContentLength_) {
    if (body.size() < static_cast<std::size_t>(contentLength)) return false;
    overran_ = body.size() > static_cast<std::size_t>(contentLength);
    body.resize(static_cast<std::size_t>(contentLength));
    return true;
  }
  if (body.size() > kMaxBodyBytes) throw Error(messages::kBodyTooLarge, FailureKind::Protocol);
  if (!isChunked || !chunked_.Advance(body)) return false;
  overran_ = chunked_.Consumed() < body.size();
  return true;
}

void Response::DecodeChunked() {
  if (!isChunked || body.empty() || decoded_) return;
  if (!chunked_.Advance(body)) throw Error(messages::kChunkIncomplete, FailureKind::Protocol);
  body = std::move(chunked_.Decoded());
  decoded_ = true;
  contentLength = static_cast<int32_t>(body.size());
}

bool Response::IsCloseDelimited() const {
  return headerEnd != kHeaderEndNotFound && !bodyless_ && !isChunked && !hasContentLength_;
}

bool Response::AllowsReuse() const {
  return version == "HTTP/1.1" && statusCode != "101" && !overran_ && !IsCloseDelimited() &&
         !header.HasOption("connection", "close");
}

bool Response::IsInterim() const {
  return headerEnd != kHeaderEndNotFound && statusCode.size() == 3 && statusCode[0] == '1' && statusCode != "101";
}

}  // namespace sion
