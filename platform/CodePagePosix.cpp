#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace zarnplatform {

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  const iconv_t converter = iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  // A GBK character (one or two bytes) never takes more than three bytes in UTF-8.
  std::string out(gbk.size() * 3 / 2 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* to = out.data();
  size_t toLeft = out.size();
  const size_t done = iconv(converter, &in, &inLeft, &to, &toLeft);
  iconv_close(converter);
  if (done == static_cast<size_t>(-1) || inLeft != 0) return std::nullopt;
  out.resize(out.size() - toLeft);
  return out;
}

}  // namespace zarnplatform
