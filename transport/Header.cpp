#include "transport/Header.h"

#include <utility>

#include "transport/TextUtil.h"

namespace sion {

void Header::Add(std::string key, std::string value) { fields_.emplace_back(std::move(key), std::move(value)); }

std::string Header::Get(std::string key) const {
  key = AsciiLower(std::move(key));
  for (auto it = fields_.rbegin(); it != fields_.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return {};
}

}  // namespace sion
