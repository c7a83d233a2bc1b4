#include "OverlayTransactionInbox.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

constexpr const char* kLogPrefix = "steam_api64 stand-in: ";
// A request is a few dozen bytes; anything far larger is not one and is not read into memory.
constexpr std::uintmax_t kMaxRequestBytes = 64 * 1024;

enum class ReadStatus { Ok, Gone, Malformed };

struct ReadResult {
  ReadStatus status = ReadStatus::Gone;
  OverlayTransaction transaction;
};

std::optional<uint64_t> ParseOrderId(const std::string& text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<OverlayTransaction> ParseRequest(const std::string& content) {
  const nlohmann::json doc = nlohmann::json::parse(content, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return std::nullopt;
  const auto appId = doc.find("appId");
  const auto orderId = doc.find("orderId");
  if (appId == doc.end() || !appId->is_number_unsigned()) return std::nullopt;
  if (orderId == doc.end() || !orderId->is_string()) return std::nullopt;
  const uint64_t app = appId->get<uint64_t>();
  if (app > UINT32_MAX) return std::nullopt;
  const auto order = ParseOrderId(orderId->get<std::string>());
  if (!order) return std::nullopt;
  return OverlayTransaction{static_cast<uint32_t>(app), *order};
}

ReadResult ReadRequest(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) return {ReadStatus::Gone, {}};
  if (size > kMaxRequestBytes) return {ReadStatus::Malformed, {}};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {ReadStatus::Gone, {}};
  std::string content(static_cast<size_t>(size), '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<size_t>(in.gcount()));
  in.close();
  const auto request = ParseRequest(content);
  if (!request) return {ReadStatus::Malformed, {}};
  return {ReadStatus::Ok, *request};
}

// A name no other taker (thread or process) uses: a per-process random token and a counter.
// It starts with "." so that no watcher mistakes a taken file for a new request.
fs::path ClaimPath(const fs::path& file) {
  static const uint64_t processToken = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }();
  static std::atomic<uint64_t> counter{0};
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".taken-%016llx-%llu", static_cast<unsigned long long>(processToken),
                static_cast<unsigned long long>(counter.fetch_add(1)));
  return file.parent_path() / ("." + file.filename().string() + suffix);
}

struct Candidate {
  fs::file_time_type written;
  fs::path path;
};

std::vector<Candidate> ListRequests(const fs::path& folder) {
  std::vector<Candidate> candidates;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (name.empty() || name.front() == '.' || path.extension() != ".json") continue;
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    const auto written = it->last_write_time(entryError);
    if (entryError) continue;
    candidates.push_back({written, path});
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.written != b.written ? a.written < b.written : a.path < b.path;
  });
  return candidates;
}

}  // namespace

std::vector<OverlayTransaction> OverlayTransactionInbox::Collect(const fs::path& folder, uint32_t appId) {
  std::vector<OverlayTransaction> taken;
  for (const Candidate& candidate : ListRequests(folder)) {
    const fs::path& file = candidate.path;
    ReadResult first = ReadRequest(file);
    if (first.status == ReadStatus::Gone) continue;
    if (first.status == ReadStatus::Malformed) {
      std::fprintf(stderr, "%sremoving malformed transaction file %s\n", kLogPrefix, file.string().c_str());
      std::error_code ignored;
      fs::remove(file, ignored);
      continue;
    }
    if (first.transaction.appId != appId) continue;  // another game's purchase

    std::error_code ec;
    const fs::path claimed = ClaimPath(file);
    fs::rename(file, claimed, ec);
    if (ec) continue;  // another watcher took it first

    // The name may have been reused by a writer between the look and the rename: answer what
    // was actually taken, and hand back a request that turned out to be another game's or could
    // not be read (by a link, which unlike a rename never replaces a file that has appeared
    // under the name since). On Windows another watcher that opened the file just before the
    // rename can keep it unreadable for a moment: such a file is retried, never thrown away.
    ReadResult claimedRequest = ReadRequest(claimed);
    for (int attempt = 0; claimedRequest.status == ReadStatus::Gone && attempt < 50; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      claimedRequest = ReadRequest(claimed);
    }
    if (claimedRequest.status != ReadStatus::Malformed &&
        (claimedRequest.status == ReadStatus::Gone || claimedRequest.transaction.appId != appId)) {
      fs::create_hard_link(claimed, file, ec);
      if (ec) {
        std::fprintf(stderr, "%scould not return transaction file %s, kept as %s\n", kLogPrefix,
                     file.string().c_str(), claimed.string().c_str());
        continue;
      }
    }
    fs::remove(claimed, ec);
    if (claimedRequest.status == ReadStatus::Ok && claimedRequest.transaction.appId == appId) {
      taken.push_back(claimedRequest.transaction);
    }
  }
  return taken;
}
