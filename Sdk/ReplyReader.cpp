#include "Sdk/ReplyReader.h"

namespace ZarnSdk::reply {

bool NestingWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

std::optional<std::string> RefusedBeforeParsing(std::string_view text) {
  if (!NestingWithin(text, kMaxDepth)) return "reply nested deeper than " + std::to_string(kMaxDepth) + " levels";
  if (text.find('\0') != std::string_view::npos) return std::string("reply holds a zero byte");
  return std::nullopt;
}

std::optional<Json> Parse(std::string_view text) {
  if (RefusedBeforeParsing(text)) return std::nullopt;
  Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<Json> ParseObject(std::string_view text) {
  std::optional<Json> value = Parse(text);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

const Json& Member(const Json& object, const char* key) {
  static const Json& kNull = *new Json();  // never destroyed: replies may be read at process exit
  if (!object.is_object()) return kNull;
  const auto it = object.find(key);
  return it == object.end() ? kNull : *it;
}

namespace {
[[noreturn]] void ThrowWrongType(const Json& value, const char* expected) {
  throw Json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                 &value);
}
}  // namespace

const Json& ObjectOrNull(const Json& value) {
  if (!value.is_object() && !value.is_null()) ThrowWrongType(value, "object");
  return value;
}

const Json& List(const Json& object, const char* key) {
  static const Json& kEmpty = *new Json(Json::array());  // never destroyed, as kNull
  const Json& value = Member(object, key);
  if (value.is_null()) return kEmpty;
  if (!value.is_array()) ThrowWrongType(value, "array");
  return value;
}

std::string Text(const Json& object, const char* key) {
  const Json& value = Member(object, key);
  if (value.is_null()) return {};
  return StringValue(value);
}

std::string StringValue(const Json& value) {
  if (!value.is_string()) ThrowWrongType(value, "string");
  return value.get<std::string>();
}

void ThrowNotInteger(const Json& value, const char* key) {
  if (value.is_number()) {
    throw Json::out_of_range::create(406, std::string("number of member '") + key + "' is out of range", &value);
  }
  ThrowWrongType(value, "number");
}

}  // namespace ZarnSdk::reply
