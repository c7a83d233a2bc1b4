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

bool Header::HasOption(const std::string& key, const std::string& option) const {
  const std::string name = AsciiLower(key);
  const std::string wanted = AsciiLower(option);
  for (const auto& [fieldName, value] : fields_) {
    if (AsciiLower(fieldName) != name) continue;
    for (const std::string& listed : Split(value, ",")) {
      if (AsciiLower(Trim(listed, " \t")) == wanted) return true;
    }
  }
  return false;
}

}  // namespace sion
