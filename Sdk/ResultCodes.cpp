#include "Sdk/ResultCodes.h"

#include "proxy/StringConvert.h"

namespace ZarnSdk {

std::wstring HttpFailureMessage(const std::string& statusText, const std::string& transportError) {
  return Utf8ToWide("Http Code:" + statusText + ", Msg:" + transportError);
}

}  // namespace ZarnSdk
