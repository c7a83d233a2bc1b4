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

namespace ZarnProxy {

ZARN_API void CallPay(std::wstring productId, std::wstring extInfo, ResultCallback callback);
ZARN_API void Exit();
ZARN_API void Init(std::wstring appId, std::wstring appKey, ResultCallback callback);
ZARN_API bool IsPayAvailable();
ZARN_API void Login(ResultCallback callback);
ZARN_API void Logout();
ZARN_API void PostEvent(const std::wstring& eventName, const std::wstring& params, double value);
ZARN_API void QueryProducts(ResultCallback callback);
ZARN_API void SetGameUserId(std::wstring gameUserId);
ZARN_API void SetLevel(int level);
ZARN_API void SetNickName(std::wstring nickName);
ZARN_API void SetServerId(std::wstring serverId);

}  // namespace ZarnProxy
