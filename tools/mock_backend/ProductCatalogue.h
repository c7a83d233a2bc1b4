// The products the mock sells: the "productList" it answers to the product request and the
// source of names and prices for created orders. A plain value; the owner guards sharing.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace zarnmock {

class ProductCatalogue {
 public:
  // The catalogue built from tools/mock_backend/catalogue.json at build time.
  static ProductCatalogue Builtin();
  // Either a JSON array of products or an object holding one under "productList". Products are
  // served exactly as given (tests feed malformed ones on purpose). Throws std::invalid_argument.
  static ProductCatalogue FromJsonText(const std::string& text);
  // Reads the file and parses it as FromJsonText does. Throws std::invalid_argument.
  static ProductCatalogue FromFile(const std::string& path);

  const nlohmann::json& ProductList() const { return products_; }

  // The first product object whose "productId" is this text, or null.
  const nlohmann::json* Find(const std::string& productId) const;

 private:
  explicit ProductCatalogue(nlohmann::json products) : products_(std::move(products)) {}
  nlohmann::json products_;
};

// Readers with defaults for the members an order is made from.
std::string ProductText(const nlohmann::json& product, const char* member, const std::string& fallback);
int64_t ProductInteger(const nlohmann::json& product, const char* member, int64_t fallback);

}  // namespace zarnmock
