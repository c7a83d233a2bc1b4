// Reading and showing the JSON texts the SDK hands to the game.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace sample {

// The parsed document, or nothing when the text is not JSON.
std::optional<nlohmann::json> ParseJsonText(const std::wstring& text);

// The text indented for reading, each line prefixed with `indent`; a text that is not JSON is
// shown as it came.
std::string PrettyJsonText(const std::wstring& text, const std::string& indent);

}  // namespace sample
