#include "Sdk/CZarnUser.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

constexpr const char* kLoginPlatform = "STEAM";

}  // namespace

void CZarnUser::Login(const std::string& steamId, const std::string& ticketHex, uint64_t generation,
                      const GameCallback& callback) {
  api_.Post(calls::kLogin, {{"puserId", steamId}, {"accessToken", ticketHex}},
            [this, steamId, generation, callback](const Answer<LoginReply>& answer) {
              HandleLoginReply(answer, steamId, generation, callback);
            });
}

void CZarnUser::HandleLoginReply(const Answer<LoginReply>& answer, const std::string& steamId, uint64_t generation,
                                 const GameCallback& callback) {
  const HttpResp& resp = answer.resp;
  // The whole reply was read before anything is stored, so a malformed one cannot leave the
  // session half logged in.
  if (const LoginReply* parsed = answer.Ok()) {
    // The game logged out while this login was under way: the player stays logged out, and the
    // game still hears what the server said.
    if (!session_.StoreLogin(generation, parsed->token, parsed->userId, steamId)) {
      LOG(WARNING) << "Login Reply After Logout, Not Stored. UserId:" << parsed->userId;
      callback(resp.code, resp.msg, resp.data);
      return;
    }
    // The login itself has succeeded by now; a tracker failure must not cost the game its reply.
    try {
      track_.UpdateUserId();
      track_.PostLoginEvent(kLoginPlatform, steamId);
    } catch (const std::exception& e) {
      LOG(ERROR) << "Login event failed: " << e.what();
    }
  }
  callback(resp.code, resp.msg, resp.data);
}

}  // namespace ZarnSdk
