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

// The text with A-Z turned into a-z and every other byte as it is. Header names are ASCII, and
// the C library's tolower depends on the process's locale (Turkish leaves 'I' alone).
std::string AsciiLower(std::string text);

// Removes leading and trailing bytes that are among `chars`. A text that is empty or made only
// of those bytes comes back unchanged.
std::string Trim(const std::string& text, const std::string& chars = " \n\r");

}  // namespace sion
