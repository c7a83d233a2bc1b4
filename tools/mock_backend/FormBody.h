// Decoding of the SDK's form bodies: "key=value" pairs joined by "&", in the order sent.
//
// The SDK escapes exactly the bytes "%", "&", "=" and "+" inside values as %XX and sends every
// other byte raw (spaces and UTF-8 included). Decoding therefore turns %XX back into its byte and
// nothing else: a "+" is not a space. A raw "=" or "+" inside a value means the sender forgot to
// escape it, and is rejected rather than guessed at.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zarnmock {

using FormParams = std::vector<std::pair<std::string, std::string>>;

struct FormParseResult {
  FormParams params;   // decoded names and values, in body order
  std::string error;   // empty when the whole body decoded
};

// Decodes a whole body. An empty body gives no parameters. On error, `params` holds the pairs
// decoded before the fault.
FormParseResult ParseFormBody(const std::string& body);

// Replaces each %XX (hex digits of either case) by its byte; false on a "%" without two hex
// digits after it.
bool PercentDecode(const std::string& text, std::string& out);

}  // namespace zarnmock
