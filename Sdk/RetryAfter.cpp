#include "Sdk/RetryAfter.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ZarnSdk {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Digits that fit (at most nine): anything longer is no part of a date.
std::optional<int64_t> Number(std::string_view text) {
  if (!AllDigits(text) || text.size() > 9) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return value;
}

std::vector<std::string_view> Tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = text.find_first_not_of(" \t,-", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = text.find_first_of(" \t,-", start);
    tokens.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    at = end == std::string_view::npos ? text.size() : end;
  }
  return tokens;
}

// Seconds since the epoch of an HTTP date; the weekday is not checked.
std::optional<int64_t> HttpDate(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::vector<std::string_view> tokens = Tokens(text);
  if (tokens.size() < 5) return std::nullopt;
  std::optional<int64_t> day, year, hour, minute, second;
  unsigned month = 0;
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    const std::string_view token = tokens[i];
    if (token.size() == 8 && token[2] == ':' && token[5] == ':') {
      hour = Number(token.substr(0, 2)), minute = Number(token.substr(3, 2)), second = Number(token.substr(6, 2));
    } else if (month == 0 && token.size() == 3 && !AllDigits(token)) {
      for (unsigned m = 0; m < kMonths.size(); ++m) {
        if (token == kMonths[m]) month = m + 1;
      }
      if (month == 0) return std::nullopt;
    } else if (!day && AllDigits(token) && token.size() <= 2) {
      day = Number(token);
    } else if (!year && (token.size() == 4 || token.size() == 2) && AllDigits(token)) {
      year = Number(token);
      if (token.size() == 2) *year += *year < 70 ? 2000 : 1900;  // RFC 850's two digits, as RFC 9110 reads them
    } else if (token != "GMT") {
      return std::nullopt;
    }
  }
  if (!day || !year || !hour || !minute || !second || month == 0) return std::nullopt;
  if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  return DaysFromCivil(*year, month, static_cast<unsigned>(*day)) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

}  // namespace

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view field, std::chrono::system_clock::time_point now) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
  if (AllDigits(field)) {
    // Beyond any bound a caller applies: a long run of digits is a long wait, not an overflow.
    if (field.size() > 9) return std::chrono::seconds(999999999);
    return std::chrono::seconds(*Number(field));
  }
  const std::optional<int64_t> at = HttpDate(field);
  if (!at) return std::nullopt;
  const int64_t nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  return std::chrono::seconds(*at > nowSeconds ? *at - nowSeconds : 0);
}

}  // namespace ZarnSdk
