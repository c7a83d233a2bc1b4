// libFuzzer target for the reply reader: the bytes of a reply as a hostile server might send
// them, cut into reads at fuzzer-chosen points. Besides memory errors it checks that the
// outcome does not depend on how the bytes were split into reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "transport/ResponseReader.h"

namespace {

struct Outcome {
  bool failed = false;
  bool complete = false;
  std::vector<char> body;
};

Outcome Read(const std::vector<std::string>& reads) {
  Outcome outcome;
  sion::ResponseReader reader;
  try {
    for (const std::string& read : reads) {
      if (reader.Feed(read.data(), read.size())) break;
    }
    if (!reader.Done()) return outcome;
    const sion::Response response = reader.Take();
    outcome.complete = true;
    outcome.body = response.body;
    // A finished reply always states the length of the body it holds.
    if (static_cast<std::size_t>(response.contentLength) != response.body.size()) std::abort();
  } catch (const std::exception&) {
    outcome.failed = true;
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the read sizes.
  unsigned seed = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> split;
  for (std::size_t at = 0; at < bytes.size();) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t take = 1 + (seed >> 16) % 64;
    split.push_back(bytes.substr(at, take));
    at += take;
  }
  const Outcome a = Read(split);
  const Outcome b = Read({bytes});
  if (a.failed != b.failed || a.complete != b.complete || a.body != b.body) std::abort();
  return 0;
}
