// The Steam overlay simulation's hand-over between processes: for each order the server
// creates, one transaction file "<steamOrderId>.json" holding {"appId":<n>,"orderId":"<id>"}
// appears in a shared folder, which the stand-in Steam client watches. The file is written
// under a hidden temporary name in the same folder and renamed, so a watcher never reads a
// partial file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zarnmock {

// Writes the transaction file; returns an empty text on success, else why it was not written.
// Only decimal Steam order ids are turned into file names.
std::string DropTransactionFile(const std::filesystem::path& folder, const std::string& steamOrderId,
                                uint32_t steamAppId);

}  // namespace zarnmock
