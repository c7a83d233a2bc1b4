// The simulated Steam overlay's inbox: a folder where another process (a mock backend, a tool)
// drops purchase requests that the player is to approve or decline.
//
// A request is a file "<anything>.json" holding {"appId":<number>,"orderId":"<uint64 decimal>"}.
// Writers create it under a name starting with "." and rename it into place, so a visible
// ".json" file is complete. Several processes may watch the same folder: a file is taken by
// renaming it to a name unique to the taker, which succeeds for exactly one of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct OverlayTransaction {
  uint32_t appId = 0;
  uint64_t orderId = 0;
};

// Stateless apart from a counter that makes claim names unique; every operation may run on any
// thread at the same time as others. Does file I/O only: callers must not hold locks around it
// that the game's threads need.
class OverlayTransactionInbox {
 public:
  // Takes (removes) every request for `appId` in `folder` and returns them in the order they
  // were written (modification time, then name). Requests of other app ids stay; malformed
  // files are removed and reported on standard error; files taken by another process meanwhile
  // are skipped. A missing or unreadable folder yields nothing.
  static std::vector<OverlayTransaction> Collect(const std::filesystem::path& folder, uint32_t appId);
};
