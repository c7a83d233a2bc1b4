#include "tools/mock_backend/ProductCatalogue.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zarnmock {

extern const char* const kBuiltinCatalogueJson;

ProductCatalogue ProductCatalogue::Builtin() { return FromJsonText(kBuiltinCatalogueJson); }

ProductCatalogue ProductCatalogue::FromJsonText(const std::string& text) {
  nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded()) throw std::invalid_argument("product catalogue is not JSON");
  if (doc.is_array()) return ProductCatalogue(std::move(doc));
  if (doc.is_object() && doc.contains("productList")) return ProductCatalogue(std::move(doc["productList"]));
  throw std::invalid_argument("product catalogue must be an array or an object with \"productList\"");
}

ProductCatalogue ProductCatalogue::FromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot read product catalogue " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return FromJsonText(content.str());
}

const nlohmann::json* ProductCatalogue::Find(const std::string& productId) const {
  if (!products_.is_array()) return nullptr;
  for (const auto& product : products_) {
    if (!product.is_object()) continue;
    auto id = product.find("productId");
    if (id != product.end() && id->is_string() && id->get<std::string>() == productId) return &product;
  }
  return nullptr;
}

std::string ProductText(const nlohmann::json& product, const char* member, const std::string& fallback) {
  auto it = product.find(member);
  return it != product.end() && it->is_string() ? it->get<std::string>() : fallback;
}

int64_t ProductInteger(const nlohmann::json& product, const char* member, int64_t fallback) {
  auto it = product.find(member);
  return it != product.end() && it->is_number_integer() ? it->get<int64_t>() : fallback;
}

}  // namespace zarnmock
