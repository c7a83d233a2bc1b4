// Public interface of the Zarn Steam SDK (zarnsdk64_mt).
//
// Threading contract, in short:
//  * Every function may be called from any thread of the game and returns without waiting for
//    the network.
//  * A callback may run on the calling thread (immediate refusals: 200 "Sdk already init.",
//    -401, -402, -405, and a product query or a purchase of an unknown product once the
//    catalogue is loaded) or on one of the SDK's own threads (server replies, Steam results).
//    Never assume the game's main thread inside a callback.
//  * A null callback is never called.
//  * The two strings handed to a callback are the callee's own copies.
//  * No C++ exception leaves these functions.
//
// Define ZARN_SDK_HEADER_ONLY_CPP before including this header to compile these functions as
// inline wrappers over the C interface (zarnsdk.h) instead of importing the C++ exports: then
// no std::wstring, allocator or destructor crosses into the library, and a game built with
// another compiler or standard library than the SDK's (MSVC against the mingw-built DLL, say)
// can use the C++ interface safely. This mode also offers SetLogHandler, the C interface's log
// handler (zarn_set_log_handler) for the engine's console.
#pragma once

#include <string>

#if defined(_WIN32)
#  if defined(ZARN_SDK_BUILDING)
#    define ZARN_API __declspec(dllexport)
#  else
#    define ZARN_API __declspec(dllimport)
#  endif
#else
#  define ZARN_API __attribute__((visibility("default")))
#endif

// code: 200 on success, a negative SDK code, or the server's own code passed through.
// msg:  a human-readable text. data: the reply body (JSON) for server replies, empty otherwise.
typedef void (*ResultCallback)(int code, std::wstring msg, std::wstring data);

#if !defined(ZARN_SDK_HEADER_ONLY_CPP)

namespace ZarnProxy {

ZARN_API void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback);
ZARN_API void Exit();
ZARN_API void Init(std::wstring appId, std::wstring appKey, ResultCallback callback);
ZARN_API bool IsPayAvailable();
ZARN_API void Login(ResultCallback callback);
ZARN_API void Logout();
// params: a JSON object as text, or empty. value: the event's number; NaN for none. JSON has no
// infinity, so any value that is not finite (NaN, +/-infinity) sends the event without one.
ZARN_API void PostEvent(const std::wstring& eventName, const std::wstring& params, double value);
ZARN_API void QueryProducts(ResultCallback callback);
ZARN_API void SetGameUserId(std::wstring gameUserId);
ZARN_API void SetLevel(int level);
ZARN_API void SetNickName(std::wstring nickName);
ZARN_API void SetServerId(std::wstring serverId);

}  // namespace ZarnProxy

#else  // ZARN_SDK_HEADER_ONLY_CPP

// Header-only mode: the same twelve functions, compiled by the game's own compiler as inline
// wrappers over the C interface (zarnsdk.h). Only C functions cross into the library, so a game
// built with another compiler or standard library than the SDK's can use this interface.
#include <cstdint>
#include <type_traits>

#include "zarnsdk.h"

namespace ZarnProxy {
namespace detail {

inline std::string ToUtf8(const std::wstring& wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    auto cp = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
      const auto low = static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i + 1]));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// The SDK hands over valid UTF-8 only.
inline std::wstring FromUtf8(const char* text) {
  std::wstring out;
  const auto* s = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
  while (*s != 0) {
    uint32_t cp = *s;
    int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
    cp &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : extra == 1 ? 0x1F : 0x7F;
    ++s;
    for (; extra > 0 && (*s & 0xC0) == 0x80; --extra, ++s) cp = (cp << 6) | (*s & 0x3F);
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}

// The game's function travels as the C interface's user pointer.
inline void Trampoline(int32_t code, const char* msg, const char* data, void* user) {
  reinterpret_cast<ResultCallback>(user)(code, FromUtf8(msg), FromUtf8(data));
}

inline zarn_callback CallbackOf(ResultCallback callback) { return callback != nullptr ? &Trampoline : nullptr; }
inline void* UserOf(ResultCallback callback) { return reinterpret_cast<void*>(callback); }

typedef void (*LogCallback)(int level, std::wstring message);
inline void LogTrampoline(int32_t level, const char* message, void* user) {
  try {
    reinterpret_cast<LogCallback>(user)(level, FromUtf8(message));
  } catch (...) {
    // An exception stops at the boundary it cannot cross.
  }
}

}  // namespace detail

// The SDK's log lines at `minLevel` (ZARN_LOG_DEBUG .. ZARN_LOG_ERROR) and above, one line
// each, on the thread that logged; null removes the handler. See zarn_set_log_handler.
using LogCallback = detail::LogCallback;
inline void SetLogHandler(int minLevel, LogCallback handler) {
  zarn_set_log_handler(minLevel, handler != nullptr ? &detail::LogTrampoline : nullptr,
                       reinterpret_cast<void*>(handler));
}

inline void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback) {
  const std::string product = detail::ToUtf8(productId);
  const std::string ext = detail::ToUtf8(extInfo);
  zarn_call_pay(product.data(), product.size(), ext.data(), ext.size(), detail::CallbackOf(callback),
                detail::UserOf(callback));
}
inline void Exit() { zarn_exit(); }
inline void Init(std::wstring appId, std::wstring appKey, ResultCallback callback) {
  const std::string id = detail::ToUtf8(appId);
  const std::string key = detail::ToUtf8(appKey);
  zarn_init(id.data(), id.size(), key.data(), key.size(), detail::CallbackOf(callback), detail::UserOf(callback));
}
inline bool IsPayAvailable() { return zarn_is_pay_available() != 0; }
inline void Login(ResultCallback callback) { zarn_login(detail::CallbackOf(callback), detail::UserOf(callback)); }
inline void Logout() { zarn_logout(); }
inline void PostEvent(const std::wstring& eventName, const std::wstring& params, double value) {
  const std::string name = detail::ToUtf8(eventName);
  const std::string text = detail::ToUtf8(params);
  zarn_post_event(name.data(), name.size(), text.data(), text.size(), value);
}
inline void QueryProducts(ResultCallback callback) {
  zarn_query_products(detail::CallbackOf(callback), detail::UserOf(callback));
}
inline void SetGameUserId(std::wstring gameUserId) {
  const std::string text = detail::ToUtf8(gameUserId);
  zarn_set_game_user_id(text.data(), text.size());
}
inline void SetLevel(int level) { zarn_set_level(level); }
inline void SetNickName(std::wstring nickName) {
  const std::string text = detail::ToUtf8(nickName);
  zarn_set_nick_name(text.data(), text.size());
}
inline void SetServerId(std::wstring serverId) {
  const std::string text = detail::ToUtf8(serverId);
  zarn_set_server_id(text.data(), text.size());
}

}  // namespace ZarnProxy

#endif  // ZARN_SDK_HEADER_ONLY_CPP
