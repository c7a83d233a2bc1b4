#include "tools/mock_backend/TransactionDrop.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

namespace zarnmock {

std::string DropTransactionFile(const std::filesystem::path& folder, const std::string& steamOrderId,
                                uint32_t steamAppId) {
  const bool decimal = !steamOrderId.empty() && std::all_of(steamOrderId.begin(), steamOrderId.end(),
                                                            [](char c) { return c >= '0' && c <= '9'; });
  if (!decimal) return "Steam order id is not decimal, no transaction file: " + steamOrderId;

  const nlohmann::json content = {{"appId", steamAppId}, {"orderId", steamOrderId}};
  const std::string name = steamOrderId + ".json";
  const std::filesystem::path temporary = folder / ("." + name + ".tmp");
  const std::filesystem::path target = folder / name;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content.dump();
    out.flush();
    if (!out) return "cannot write " + temporary.string();
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return "cannot rename " + temporary.string() + " to " + target.string();
  }
  return {};
}

}  // namespace zarnmock
