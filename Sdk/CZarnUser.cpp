#include "Sdk/CZarnUser.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <utility>

#include "Sdk/ReplyReader.h"
#include "Sdk/ResultCodes.h"
#include "Sdk/ZarnLog.h"

namespace ZarnSdk {
namespace {

constexpr const char* kLoginPlatform = "STEAM";

struct LoginReply {
  std::string token;
  std::string userId;
};

// Reads the whole reply before anything is stored, so a malformed reply cannot leave the
// session half logged in. An absent user id stays "-1".
std::optional<LoginReply> ParseLoginReply(const std::string& text) {
  const std::optional<reply::Json> doc = reply::ParseObject(text);
  if (!doc) return std::nullopt;
  try {
    LoginReply parsed{reply::Text(*doc, "token"), "-1"};
    const reply::Json& userId = reply::Member(*doc, "userId");
    if (!userId.is_null()) parsed.userId = std::to_string(reply::Integer<int64_t>(*doc, "userId"));
    return parsed;
  } catch (const reply::Json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

void CZarnUser::Login(const std::string& steamId, const std::string& ticketHex, uint64_t generation,
                      const GameCallback& callback) {
  api_.PostLogin(steamId, ticketHex, [this, steamId, generation, callback](HttpResp resp) {
    HandleLoginReply(resp, steamId, generation, callback);
  });
}

void CZarnUser::HandleLoginReply(const HttpResp& resp, const std::string& steamId, uint64_t generation,
                                 const GameCallback& callback) {
  if (resp.code == results::kSuccess) {
    const std::optional<LoginReply> parsed = ParseLoginReply(resp.data);
    if (!parsed) {
      Report(callback, results::kServerJsonParseError);
      return;
    }
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
