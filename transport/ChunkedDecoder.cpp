#include "transport/ChunkedDecoder.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "transport/Error.h"
#include "transport/Messages.h"
#include "transport/TransportSettings.h"

namespace sion {
namespace {

// A size line is a few hex digits and perhaps an extension; anything longer is an attack.
constexpr std::size_t kMaxSizeLineBytes = 4096;
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Position of the first CR LF in raw[from, from + window), or kNotFound. `scanned` bytes from
// `from` on were searched before (a CR among them may end the line only with the next byte) and
// is advanced to what this call searched.
std::size_t FindCrlf(const std::vector<char>& raw, std::size_t from, std::size_t window, std::size_t& scanned) {
  const std::size_t end = std::min(raw.size(), from + window);
  const std::size_t start = from + (scanned > 0 ? scanned - 1 : 0);
  for (std::size_t i = start; i + 1 < end; ++i) {
    if (raw[i] == '\r' && raw[i + 1] == '\n') return i;
  }
  scanned = end > from ? end - from : 0;
  return kNotFound;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// chunk-size [ BWS ";" chunk-ext ] - digits first, then nothing but blanks or an extension.
std::size_t ParseChunkSize(const char* line, std::size_t length) {
  std::size_t i = 0;
  while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < length && HexValue(line[i]) >= 0; ++i, ++digits) {
    value = value * 16 + HexValue(line[i]);
    if (value > INT32_MAX) throw std::out_of_range(messages::kNumberOutOfRange);
  }
  if (digits == 0) throw std::invalid_argument(messages::kInvalidNumber);
  while (i < length && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < length && line[i] != ';') throw std::invalid_argument(messages::kInvalidNumber);
  return static_cast<std::size_t>(value);
}

}  // namespace

bool ChunkedDecoder::Advance(const std::vector<char>& raw) {
  while (state_ != State::Done) {
    const std::size_t available = raw.size() > pos_ ? raw.size() - pos_ : 0;
    switch (state_) {
      case State::SizeLine: {
        std::size_t eol = FindCrlf(raw, pos_, kMaxSizeLineBytes + 2, lineScanned_);
        if (eol == kNotFound) {
          if (available > kMaxSizeLineBytes + 1) throw Error(messages::kChunkLineTooLong, FailureKind::Protocol);
          return false;
        }
        std::size_t size = ParseChunkSize(raw.data() + pos_, eol - pos_);
        pos_ = eol + 2;
        lineScanned_ = 0;
        if (size == 0) {
          state_ = State::Trailer;
        } else {
          if (decoded_.size() + size > kMaxBodyBytes) throw Error(messages::kBodyTooLarge, FailureKind::Protocol);
          remaining_ = size;
          state_ = State::Data;
        }
        break;
      }
      case State::Data: {
        std::size_t take = std::min(remaining_, available);
        if (take == 0) return false;
        decoded_.insert(decoded_.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos_),
                        raw.begin() + static_cast<std::ptrdiff_t>(pos_ + take));
        pos_ += take;
        remaining_ -= take;
        if (remaining_ == 0) state_ = State::DataEnd;
        break;
      }
      case State::DataEnd: {
        if (available < 2) return false;
        if (raw[pos_] != '\r' || raw[pos_ + 1] != '\n') throw Error(messages::kChunkNoCrlf, FailureKind::Protocol);
        pos_ += 2;
        state_ = State::SizeLine;
        break;
      }
      case State::Trailer: {
        // Trailer fields are read past and dropped; an empty line ends the message.
        std::size_t budget = kMaxHeadBytes - trailerBytes_;
        std::size_t eol = FindCrlf(raw, pos_, budget, lineScanned_);
        if (eol == kNotFound) {
          if (available >= budget) throw Error(messages::kChunkTrailerTooLarge, FailureKind::Protocol);
          return false;
        }
        trailerBytes_ += eol - pos_ + 2;
        if (trailerBytes_ > kMaxHeadBytes) throw Error(messages::kChunkTrailerTooLarge, FailureKind::Protocol);
        bool emptyLine = eol == pos_;
        pos_ = eol + 2;
        lineScanned_ = 0;
        if (emptyLine) state_ = State::Done;
        break;
      }
      case State::Done:
        break;
    }
  }
  return true;
}

}  // namespace sion
