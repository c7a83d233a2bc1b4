#include "ProductCatalogue.h"

#include <algorithm>
#include <array>

#include "JsonText.h"
#include "WideText.h"

namespace sample {
namespace {

std::string TextMember(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

std::string Padded(const std::string& text, size_t width) {
  const size_t shown = DisplayWidth(text);
  return text + std::string(width > shown ? width - shown : 0, ' ');
}

}  // namespace

std::optional<ProductCatalogue> ProductCatalogue::FromCallbackData(const std::wstring& data) {
  const auto doc = ParseJsonText(data);
  if (!doc || !doc->is_object()) return std::nullopt;
  ProductCatalogue catalogue;
  const auto list = doc->find("productList");
  if (list == doc->end() || list->is_null()) return catalogue;
  if (!list->is_array()) return std::nullopt;
  for (const auto& item : *list) {
    if (!item.is_object()) return std::nullopt;
    ProductRow row;
    row.productId = TextMember(item, "productId");
    row.productName = TextMember(item, "productName");
    row.productDesc = TextMember(item, "productDesc");
    const auto amount = item.find("gameCurrencyAmount");
    if (amount != item.end() && amount->is_number_integer()) row.gameCurrencyAmount = amount->get<int64_t>();
    catalogue.rows_.push_back(std::move(row));
  }
  return catalogue;
}

bool ProductCatalogue::Contains(const std::string& productId) const {
  return std::any_of(rows_.begin(), rows_.end(), [&](const ProductRow& r) { return r.productId == productId; });
}

void ProductCatalogue::PrintTable(std::ostream& out, const std::string& indent) const {
  using Line = std::array<std::string, 4>;
  std::vector<Line> lines{{"productId", "productName", "gameCurrencyAmount", "productDesc"}};
  for (const auto& row : rows_) {
    lines.push_back({row.productId, row.productName, std::to_string(row.gameCurrencyAmount), row.productDesc});
  }
  std::array<size_t, 4> widths{};
  for (const auto& line : lines) {
    for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(line[c]));
  }
  auto rule = [&] {
    out << indent << "+";
    for (const size_t w : widths) out << std::string(w + 2, '-') << "+";
    out << "\n";
  };
  rule();
  for (size_t i = 0; i < lines.size(); ++i) {
    out << indent << "|";
    for (size_t c = 0; c < widths.size(); ++c) out << " " << Padded(lines[i][c], widths[c]) << " |";
    out << "\n";
    if (i == 0) rule();
  }
  rule();
}

}  // namespace sample
