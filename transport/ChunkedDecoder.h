// Incremental decoder of the chunked transfer coding. It is fed the growing raw body again and
// again and picks up where it stopped, so a whole reply is parsed in linear time, and it never
// looks beyond the bytes it has been given. Copyable; one thread at a time.
#pragma once

#include <cstddef>
#include <vector>

namespace sion {

class ChunkedDecoder {
 public:
  // Parses the bytes of `raw` not yet seen (raw must only ever grow by appending). Returns true
  // once the last chunk and the trailer section (possibly empty) are complete; bytes after
  // that are ignored. Throws std::invalid_argument("invalid stoi argument") for a chunk size
  // without hex digits (also a negative one), std::out_of_range("stoi argument out of range")
  // for one beyond 32 bits, and sion::Error for other framing faults or oversized data.
  bool Advance(const std::vector<char>& raw);

  bool Complete() const { return state_ == State::Done; }
  // Bytes of raw parsed so far; once complete, where the chunked body ends.
  std::size_t Consumed() const { return pos_; }
  // The chunk data decoded so far.
  std::vector<char>& Decoded() { return decoded_; }

 private:
  enum class State { SizeLine, Data, DataEnd, Trailer, Done };

  State state_ = State::SizeLine;
  std::size_t pos_ = 0;        // next unparsed byte of raw
  std::size_t remaining_ = 0;  // data bytes left in the current chunk
  std::size_t trailerBytes_ = 0;
  // Bytes of the current line already searched for its end, so a line that arrives a byte at
  // a time is scanned once, not once per byte.
  std::size_t lineScanned_ = 0;
  std::vector<char> decoded_;
};

}  // namespace sion
