// The product list the SDK hands to QueryProducts' callback, read into rows and shown as a table.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sample {

struct ProductRow {
  std::string productId;
  std::string productName;
  std::string productDesc;
  int64_t gameCurrencyAmount = 0;
};

class ProductCatalogue {
 public:
  // Reads the "productList" member of the callback data; nothing when the data is not a JSON
  // object or the list has the wrong shape. A missing list is an empty catalogue.
  static std::optional<ProductCatalogue> FromCallbackData(const std::wstring& data);

  const std::vector<ProductRow>& Rows() const { return rows_; }
  bool Contains(const std::string& productId) const;
  void PrintTable(std::ostream& out, const std::string& indent) const;

 private:
  std::vector<ProductRow> rows_;
};

}  // namespace sample
