// The C exports: the same operations as the C++ ones, with UTF-8 texts of explicit length and a
// callback that carries the caller's user pointer.
#include <cstring>
#include <string>
#include <string_view>

#include "Sdk/GameCallback.h"
#include "Sdk/ZarnLog.h"
#include "proxy/ProcessSdk.h"
#include "platform/Utf8.h"
#include "zarnsdk.h"

namespace {

using ZarnSdk::GameCallback;
using ZarnSdk::SdkInstance;
using ZarnSdk::WithSdk;

// The SDK's own copy of a text from the caller; NULL reads as empty.
std::string Text(const char* bytes, size_t length) {
  if (bytes == nullptr) return {};
  if (length == ZARN_NTS) length = std::strlen(bytes);
  return zarnplatform::SanitizeUtf8(std::string_view(bytes, length));
}

}  // namespace

extern "C" {

const char* zarn_version(void) { return ZARN_SDK_VERSION; }

void zarn_init(const char* app_id, size_t app_id_len, const char* app_key, size_t app_key_len, zarn_callback callback,
               void* user) {
  WithSdk("zarn_init", [&](SdkInstance& sdk) {
    sdk.Core().InitSdk(Text(app_id, app_id_len), Text(app_key, app_key_len), GameCallback(callback, user));
  });
}

void zarn_login(zarn_callback callback, void* user) {
  WithSdk("zarn_login", [&](SdkInstance& sdk) { sdk.Core().LoginSteam(GameCallback(callback, user)); });
}

void zarn_logout(void) {
  WithSdk("zarn_logout", [](SdkInstance& sdk) { sdk.Core().Logout(); });
}

void zarn_query_products(zarn_callback callback, void* user) {
  WithSdk("zarn_query_products", [&](SdkInstance& sdk) { sdk.Core().QueryProducts(GameCallback(callback, user)); });
}

void zarn_call_pay(const char* product_id, size_t product_id_len, const char* ext_info, size_t ext_info_len,
                   zarn_callback callback, void* user) {
  WithSdk("zarn_call_pay", [&](SdkInstance& sdk) {
    sdk.Core().CallPay(Text(product_id, product_id_len), Text(ext_info, ext_info_len), GameCallback(callback, user));
  });
}

int32_t zarn_is_pay_available(void) {
  bool available = false;
  WithSdk("zarn_is_pay_available", [&](SdkInstance& sdk) { available = sdk.Core().IsPayAvailable(); });
  return available ? 1 : 0;
}

void zarn_post_event(const char* name, size_t name_len, const char* params, size_t params_len, double value) {
  WithSdk("zarn_post_event",
          [&](SdkInstance& sdk) { sdk.Track().PostEvent(Text(name, name_len), Text(params, params_len), value); });
}

void zarn_set_server_id(const char* value, size_t value_len) {
  WithSdk("zarn_set_server_id", [&](SdkInstance& sdk) { sdk.Core().SetServerId(Text(value, value_len)); });
}

void zarn_set_game_user_id(const char* value, size_t value_len) {
  WithSdk("zarn_set_game_user_id", [&](SdkInstance& sdk) { sdk.Core().SetGameUserId(Text(value, value_len)); });
}

void zarn_set_nick_name(const char* value, size_t value_len) {
  WithSdk("zarn_set_nick_name", [&](SdkInstance& sdk) { sdk.Core().SetNickName(Text(value, value_len)); });
}

void zarn_set_level(int32_t level) {
  WithSdk("zarn_set_level", [&](SdkInstance& sdk) { sdk.Core().SetLevel(level); });
}

void zarn_exit(void) {
  WithSdk("zarn_exit", [](SdkInstance& sdk) { sdk.Core().Exit(); });
}

void zarn_set_log_handler(int32_t min_level, zarn_log_fn fn, void* user) {
  if (ZarnSdk::ProcessSdkIsInert()) return;
  zarnplatform::Guarded("zarn_set_log_handler", [&] { ZarnSdk::SetLogHandler(min_level, fn, user); });
}

}  // extern "C"
