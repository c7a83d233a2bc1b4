// The two text helpers the transport's parsers are built on.
#pragma once

#include <string>
#include <vector>

namespace sion {

// Splits `text` at the occurrences of `separator`, left to right, stopping after `limit`
// occurrences unless `limit` is negative. Empty pieces are dropped; with no occurrence at all
// the result is `text` itself as the only element (even when it is empty). An empty separator
// occurs after every byte.
std::vector<std::string> Split(const std::string& text, const std::string& separator, int limit = -1);

// Removes leading and trailing bytes that are among `chars`. A text that is empty or made only
// of those bytes comes back unchanged.
std::string Trim(const std::string& text, const std::string& chars = " \n\r");

}  // namespace sion
