#include "EnvironmentSettings.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace {

constexpr const char* kLogPrefix = "steam_api64 stand-in: ";

std::string_view Trim(std::string_view text) {
  const char* const spaces = " \t\r\n";
  const size_t first = text.find_first_not_of(spaces);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(spaces);
  return text.substr(first, last - first + 1);
}

// Whole-text decimal integer of type T; no sign for unsigned types, nothing after the digits.
template <class T>
std::optional<T> ParseInteger(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<bool> ParseFlag(std::string_view text) {
  text = Trim(text);
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

std::optional<PurchaseAnswer> ParsePurchase(std::string_view text) {
  text = Trim(text);
  if (text == "approve") return PurchaseAnswer::Approve;
  if (text == "decline") return PurchaseAnswer::Decline;
  if (text == "ignore") return PurchaseAnswer::Ignore;
  return std::nullopt;
}

// Reads variable `name` through `parse`; a set but unusable value is reported and ignored, so
// the library falls back to its default instead of running with a half-understood setting.
template <class Parse>
auto ReadVariable(const char* name, Parse parse) -> decltype(parse(std::string_view{})) {
  const char* raw = std::getenv(name);
  if (raw == nullptr) return std::nullopt;
  auto value = parse(std::string_view(raw));
  if (!value) std::fprintf(stderr, "%signoring %s=\"%s\": not a valid value\n", kLogPrefix, name, raw);
  return value;
}

std::optional<uint32_t> ReadAppIdFile() {
  std::ifstream in("steam_appid.txt", std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  auto value = ParseInteger<uint32_t>(line);
  if (!value) std::fprintf(stderr, "%signoring steam_appid.txt: no app id on its first line\n", kLogPrefix);
  return value;
}

}  // namespace

EnvironmentSettings EnvironmentSettings::Read() {
  EnvironmentSettings s;
  s.clientRunning = ReadVariable("ZARN_STEAMSIM_RUNNING", ParseFlag);
  s.appId = ReadVariable("SteamAppId", ParseInteger<uint32_t>);
  if (!s.appId) s.appId = ReadAppIdFile();
  s.steamId = ReadVariable("ZARN_STEAMSIM_STEAMID", ParseInteger<uint64_t>);
  s.overlayEnabled = ReadVariable("ZARN_STEAMSIM_OVERLAY", ParseFlag);
  s.ticketResult = ReadVariable("ZARN_STEAMSIM_TICKET_RESULT", ParseInteger<int32_t>);
  s.ticketDelayMs = ReadVariable("ZARN_STEAMSIM_TICKET_DELAY_MS", ParseInteger<int32_t>);
  s.purchase = ReadVariable("ZARN_STEAMSIM_PURCHASE", ParsePurchase);
  // An empty folder name switches the simulated overlay off, as an unset variable does.
  const char* dir = std::getenv("ZARN_STEAMSIM_DIR");
  if (dir != nullptr && *dir != '\0') s.transactionDir = std::filesystem::path(dir);
  return s;
}
