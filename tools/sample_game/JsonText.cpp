#include "JsonText.h"

#include <sstream>

#include "WideText.h"

namespace sample {

std::optional<nlohmann::json> ParseJsonText(const std::wstring& text) {
  auto doc = nlohmann::json::parse(ToUtf8(text), nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) return std::nullopt;
  return doc;
}

std::string PrettyJsonText(const std::wstring& text, const std::string& indent) {
  const auto doc = ParseJsonText(text);
  const std::string body =
      doc ? doc->dump(2, ' ', /*ensure_ascii=*/false, nlohmann::json::error_handler_t::replace) : ToUtf8(text);
  std::istringstream lines(body);
  std::string line;
  std::string out;
  while (std::getline(lines, line)) out += indent + line + "\n";
  return out;
}

}  // namespace sample
