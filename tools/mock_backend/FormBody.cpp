#include "tools/mock_backend/FormBody.h"

namespace zarnmock {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool PercentDecode(const std::string& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

FormParseResult ParseFormBody(const std::string& body) {
  FormParseResult result;
  if (body.empty()) return result;
  size_t start = 0;
  while (true) {
    const size_t amp = body.find('&', start);
    const std::string piece = body.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    const size_t pieceNumber = result.params.size() + 1;
    if (piece.empty()) {
      result.error = "empty parameter at position " + std::to_string(pieceNumber);
      return result;
    }
    const size_t eq = piece.find('=');
    if (eq == std::string::npos) {
      result.error = "parameter without '=': " + piece;
      return result;
    }
    const std::string rawName = piece.substr(0, eq);
    const std::string rawValue = piece.substr(eq + 1);
    std::string name;
    std::string value;
    if (!PercentDecode(rawName, name)) {
      result.error = "bad percent escape in parameter name " + rawName;
      return result;
    }
    if (rawValue.find('=') != std::string::npos) {
      result.error = "unescaped '=' in value of " + name;
      return result;
    }
    if (rawValue.find('+') != std::string::npos) {
      result.error = "unescaped '+' in value of " + name;
      return result;
    }
    if (!PercentDecode(rawValue, value)) {
      result.error = "bad percent escape in value of " + name;
      return result;
    }
    result.params.emplace_back(std::move(name), std::move(value));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return result;
}

}  // namespace zarnmock
