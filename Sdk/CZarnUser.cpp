#include "Sdk/CZarnUser.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "Sdk/CZarnCore.h"
#include "Sdk/CZarnTrack.h"
#include "Sdk/ZarnApi.h"
#include "Sdk/ZarnLog.h"
#include "proxy/StringConvert.h"

namespace ZarnSdk {
namespace {

constexpr const char* kLoginPlatform = "STEAM";

struct LoginReply {
  std::string token;
  std::string userId;
};

// The user id as decimal text, or nothing when the member cannot be one. Ids are kept whole up
// to the signed 64-bit range the tracker holds them in; a boolean counts as 0 or 1, as the
// server's JSON library has always been read that way.
std::optional<std::string> UserIdText(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_integer:
      return std::to_string(value.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      const uint64_t id = value.get<uint64_t>();
      if (id > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
      return std::to_string(id);
    }
    case nlohmann::json::value_t::boolean:
      return std::string(value.get<bool>() ? "1" : "0");
    default:
      return std::nullopt;
  }
}

// Reads the whole reply before anything is stored, so a malformed reply cannot leave the core
// half logged in.
std::optional<LoginReply> ParseLoginReply(const std::string& text) {
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return std::nullopt;

  LoginReply reply{std::string(), "-1"};
  if (const auto token = doc.find("token"); token != doc.end()) {
    if (!token->is_string()) return std::nullopt;
    reply.token = token->get<std::string>();
  }
  if (const auto userId = doc.find("userId"); userId != doc.end()) {
    std::optional<std::string> id = UserIdText(*userId);
    if (!id) return std::nullopt;
    reply.userId = std::move(*id);
  }
  return reply;
}

}  // namespace

void CZarnUser::Login(std::string steamId, std::string ticketHex, ResultCallback callback) {
  ZarnApi::PostLogin(steamId, std::move(ticketHex),
                     [steamId, callback](HttpResp resp) { HandleLoginReply(resp, steamId, callback); });
}

void CZarnUser::HandleLoginReply(const HttpResp& resp, const std::string& steamId, ResultCallback callback) {
  if (resp.code == 200) {
    const std::optional<LoginReply> reply = ParseLoginReply(WideToUtf8(resp.data));
    if (!reply) {
      InvokeCallback(callback, -501, L"Server JSON Parse Error.", L"");
      return;
    }
    CZarnCore::Instance().StoreLogin(reply->token, reply->userId);
    // The login itself has succeeded by now; a tracker failure must not cost the game its reply.
    try {
      CZarnTrack::Instance().UpdateUserId();
      CZarnTrack::Instance().PostLoginEvent(kLoginPlatform, steamId);
    } catch (const std::exception& e) {
      LOG(ERROR) << "Login event failed: " << e.what();
    }
  }
  InvokeCallback(callback, resp.code, resp.msg, resp.data);
}

}  // namespace ZarnSdk
