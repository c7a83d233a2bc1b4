// libFuzzer target for the reply parser: the bytes of a reply as a hostile server might send
// them, cut into reads at fuzzer-chosen points. Besides memory errors it checks that the
// outcome does not depend on how the bytes were split into reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "transport/Response.h"

namespace {

struct Outcome {
  bool failed = false;
  bool complete = false;
  std::string status;
  std::vector<char> body;
};

// What the connection does with each read, interim replies included.
Outcome Parse(const std::vector<std::vector<char>>& reads) {
  Outcome outcome;
  sion::Response response;
  bool headDone = false;
  try {
    for (const auto& read : reads) {
      if (!headDone) {
        response.source.insert(response.source.end(), read.begin(), read.end());
        for (;;) {
          if (!response.IsHeaderComplete()) break;
          response.ParseHeader();
          if (!response.IsInterim()) {
            headDone = true;
            break;
          }
          std::vector<char> rest(response.source.begin() + static_cast<std::ptrdiff_t>(response.headerEnd),
                                 response.source.end());
          response = sion::Response();
          response.source = std::move(rest);
        }
        if (!headDone) continue;
      } else {
        response.body.insert(response.body.end(), read.begin(), read.end());
      }
      if (response.IsBodyComplete()) {
        response.DecodeChunked();
        outcome.complete = true;
        break;
      }
    }
  } catch (const std::exception&) {
    outcome.failed = true;
    return outcome;
  }
  outcome.status = response.statusCode;
  if (outcome.complete) {
    outcome.body = response.body;
    // A finished reply always states the length of the body it holds.
    if (static_cast<std::size_t>(response.contentLength) != response.body.size()) std::abort();
    (void)response.StrBody();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the read sizes.
  unsigned seed = data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  std::vector<std::vector<char>> split;
  for (std::size_t at = 0; at < length;) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t piece = 1 + (seed >> 16) % 64;
    const std::size_t take = piece < length - at ? piece : length - at;
    split.emplace_back(bytes + at, bytes + at + take);
    at += take;
  }
  const std::vector<std::vector<char>> whole = {std::vector<char>(bytes, bytes + length)};

  const Outcome a = Parse(split);
  const Outcome b = Parse(whole);
  if (a.failed != b.failed || a.complete != b.complete || a.body != b.body) std::abort();
  return 0;
}
