#include "transport/TextUtil.h"

namespace sion {

std::vector<std::string> Split(const std::string& text, const std::string& separator, int limit) {
  std::vector<std::string> pieces;
  std::size_t pieceStart = 0;
  std::size_t searchFrom = 0;
  int found = 0;
  while (limit < 0 || found < limit) {
    std::size_t at = text.find(separator, searchFrom);
    if (at == std::string::npos) break;
    ++found;
    if (at > pieceStart) pieces.push_back(text.substr(pieceStart, at - pieceStart));
    pieceStart = at + separator.size();
    searchFrom = separator.empty() ? at + 1 : pieceStart;
    if (searchFrom > text.size()) break;
  }
  if (found == 0) return {text};
  if (pieceStart < text.size()) pieces.push_back(text.substr(pieceStart));
  return pieces;
}

std::string Trim(const std::string& text, const std::string& chars) {
  std::size_t first = text.find_first_not_of(chars);
  if (text.empty() || first == std::string::npos) return text;
  std::size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace sion
