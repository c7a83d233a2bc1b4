// Conversion from the GBK code page (936), in which the SDK keeps its log texts in Chinese, to
// UTF-8, which is what a game's log handler receives. One implementation file per OS.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zarnplatform {

// The UTF-8 form of GBK bytes; nullopt when they are not GBK or the OS cannot convert them.
// Any thread; keeps no state.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

}  // namespace zarnplatform
