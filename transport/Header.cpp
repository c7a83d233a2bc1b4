#include "transport/Header.h"

#include <cctype>

namespace sion {

void Header::Add(std::string key, std::string value) { fields_.emplace_back(std::move(key), std::move(value)); }

std::string Header::Get(std::string key) const {
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (auto it = fields_.rbegin(); it != fields_.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return {};
}

}  // namespace sion
