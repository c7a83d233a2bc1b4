// An ordered list of HTTP header fields, shared by requests and responses. Duplicate keys are
// kept; nothing is merged, replaced or validated. Not synchronised: one owner at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sion {

class Header {
 public:
  using Field = std::pair<std::string, std::string>;

  // Appends the pair at the end, key and value unchanged.
  void Add(std::string key, std::string value);

  // Lower-cases `key` byte by byte and returns the value of the LAST pair whose stored key is
  // exactly that text; empty when none. Stored keys are compared as stored, so only lower-case
  // keys are ever found: responses store their keys lower-cased, requests keep the caller's.
  std::string Get(std::string key) const;

  // Whether a field named `key` (either side's case ignored) lists `option` (case ignored) in
  // its comma-separated value, as Connection lists "close".
  bool HasOption(const std::string& key, const std::string& option) const;

  // The pairs in insertion order.
  const std::vector<Field>& Fields() const { return fields_; }

 private:
  std::vector<Field> fields_;
};

}  // namespace sion
