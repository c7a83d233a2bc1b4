// Reading members of the JSON documents the SDK receives (server replies, its own state files,
// the game's event parameters). One set of rules everywhere:
//  * an absent member and a JSON null read as the member's default (empty text, 0);
//  * a number is an integer when it fits the target type, a fraction is cut toward zero, a
//    boolean counts as 0 or 1;
//  * any other type is a malformed document: the strict readers throw the JSON library's
//    type_error (out_of_range for a number that does not fit), the lenient ones (…Or) give the
//    caller's fallback.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ZarnSdk::reply {

using Json = nlohmann::json;

// Documents deeper than this are refused before they are built: nothing the SDK reads nests
// more than a few levels, and a deep one costs memory and stack for nothing.
inline constexpr int kMaxDepth = 64;

// Whether no array or object in `text` opens deeper than `limit` levels (brackets inside
// strings do not count). A guard only: the parser still decides validity.
bool NestingWithin(std::string_view text, int limit);

// Why `text` is refused before the parser sees it: nesting deeper than kMaxDepth (a small text
// of nested arrays costs far more memory than its size), or a raw zero byte, at which the JSON
// library would stop reading and pass over whatever follows (JSON never holds one outside an
// escape). nullopt when it may be parsed.
std::optional<std::string> RefusedBeforeParsing(std::string_view text);

// The whole text as one JSON value; nullopt when it is not exactly one JSON value or is
// refused before parsing.
std::optional<Json> Parse(std::string_view text);
// As Parse, but a JSON object or nothing.
std::optional<Json> ParseObject(std::string_view text);

// `object`'s member `key`; null when absent or when `object` is not an object.
const Json& Member(const Json& object, const char* key);
// `value` itself when it is an object or null; throws type_error otherwise.
const Json& ObjectOrNull(const Json& value);
// The elements of a list member; absent or null gives none, another type throws.
const Json& List(const Json& object, const char* key);

// A text member: absent or null gives "", another type throws.
std::string Text(const Json& object, const char* key);
// `value` as text; throws type_error unless it is a string (null included).
std::string StringValue(const Json& value);

// `value` as Int by the rules above; nullopt for another type or a number out of range.
template <typename Int>
std::optional<Int> IntegerValue(const Json& value) {
  using Limits = std::numeric_limits<Int>;
  switch (value.type()) {
    case Json::value_t::boolean:
      return static_cast<Int>(value.get<bool>() ? 1 : 0);
    case Json::value_t::number_unsigned: {
      const uint64_t v = value.get<uint64_t>();
      if (v <= static_cast<uint64_t>(Limits::max())) return static_cast<Int>(v);
      return std::nullopt;
    }
    case Json::value_t::number_integer: {
      const int64_t v = value.get<int64_t>();
      if (v >= static_cast<int64_t>(Limits::min()) && v <= static_cast<int64_t>(Limits::max())) {
        return static_cast<Int>(v);
      }
      return std::nullopt;
    }
    case Json::value_t::number_float: {
      const double v = std::trunc(value.get<double>());
      // Both bounds are powers of two, so exact as doubles.
      const double upper = -static_cast<double>(Limits::min());
      if (std::isfinite(v) && v >= static_cast<double>(Limits::min()) && v < upper) return static_cast<Int>(v);
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

[[noreturn]] void ThrowNotInteger(const Json& value, const char* key);

// An integer member: absent or null gives 0; another type or an out-of-range number throws.
template <typename Int>
Int Integer(const Json& object, const char* key) {
  const Json& value = Member(object, key);
  if (value.is_null()) return 0;
  if (const std::optional<Int> v = IntegerValue<Int>(value)) return *v;
  ThrowNotInteger(value, key);
}

// An integer member, or `fallback` when it is absent, null, of another type or out of range.
template <typename Int>
Int IntegerOr(const Json& object, const char* key, Int fallback) {
  return IntegerValue<Int>(Member(object, key)).value_or(fallback);
}

}  // namespace ZarnSdk::reply
