#include "Sdk/ResultCodes.h"

#include "zarnsdk.h"

namespace ZarnSdk {

// The C interface publishes these codes under names of its own: they can never drift apart.
static_assert(ZARN_OK == results::kSuccess && ZARN_OK == results::kAlreadyInit.code);
static_assert(ZARN_PROCESS_EXIT == results::kProcessExit.code && ZARN_PRODUCT_NOT_FOUND == results::kProductNotFound.code);
static_assert(ZARN_NOT_INIT == results::kNotInit.code && ZARN_STEAM_INIT_FAILURE == results::kSteamInitFailure.code);
static_assert(ZARN_TICKET_TIMEOUT == results::kTicketTimeout.code &&
              ZARN_TICKET_AUTH_FAILURE == results::kTicketAuthFailure.code);
static_assert(ZARN_NOT_LOGIN == results::kNotLogin.code && ZARN_BAD_REPLY == results::kBadReplyCode &&
              ZARN_BAD_REPLY == results::kServerJsonParseError.code && ZARN_HTTP_FAILURE == results::kHttpFailureCode);

std::string HttpFailureMessage(const std::string& statusText, const std::string& transportError) {
  return "Http Code:" + statusText + ", Msg:" + transportError;
}

}  // namespace ZarnSdk
