// The SDK's own results: every code and message the SDK itself hands to a game callback, and
// the one way a callback is called. The README's result table is checked against kSdkResults.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "Sdk/GameCallback.h"

namespace ZarnSdk {

struct SdkResult {
  int32_t code;
  const char* message;
};

namespace results {

inline constexpr int32_t kSuccess = 200;
inline constexpr SdkResult kAlreadyInit{200, "Sdk already init."};
inline constexpr SdkResult kProcessExit{-400, "Process Exit!"};
inline constexpr SdkResult kProductNotFound{-400, "Not Found Product."};
inline constexpr SdkResult kNotInit{-401, "Sdk Not Init."};
inline constexpr SdkResult kSteamInitFailure{-402, "Steam Init Failure!"};
inline constexpr SdkResult kTicketTimeout{-403, "Steam Ticket TimeOut!"};
inline constexpr SdkResult kTicketAuthFailure{-404, "Steam Ticket Auth Failure!"};
inline constexpr SdkResult kNotLogin{-405, "Not Login."};
// A reply that could not be read; the JSON library's own text is used where it has one.
inline constexpr SdkResult kServerJsonParseError{-501, "Server JSON Parse Error."};
inline constexpr int32_t kBadReplyCode = -501;
// The server could not be reached, TLS failed, or the HTTP status was not 200; the message is
// HttpFailureMessage's.
inline constexpr int32_t kHttpFailureCode = -502;

}  // namespace results

// Every fixed result, in the order the README lists them.
inline constexpr std::array<SdkResult, 9> kSdkResults{
    results::kAlreadyInit,   results::kProcessExit,      results::kProductNotFound,
    results::kNotInit,       results::kSteamInitFailure, results::kTicketTimeout,
    results::kTicketAuthFailure, results::kNotLogin,      results::kServerJsonParseError};

// "Http Code:" + the HTTP status text (empty after a transport failure) + ", Msg:" + the
// transport's failure text (empty for an HTTP error status).
std::string HttpFailureMessage(const std::string& statusText, const std::string& transportError);

// SDK-made results always carry an empty data text.
inline void Report(const GameCallback& callback, const SdkResult& result) {
  callback(result.code, result.message, std::string());
}

}  // namespace ZarnSdk
