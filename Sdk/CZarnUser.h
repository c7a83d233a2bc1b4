// The server login: exchanges the Steam-validated ticket for the publisher's token and user id.
// Keeps no state; the player state it produces lives in the session.
#pragma once

#include <string>

#include "Sdk/CZarnTrack.h"
#include "Sdk/GameCallback.h"
#include "Sdk/SessionState.h"
#include "Sdk/ZarnApi.h"

namespace ZarnSdk {

class CZarnUser {
 public:
  CZarnUser(ZarnApi& api, SessionState& session, CZarnTrack& track) : api_(api), session_(session), track_(track) {}

  // Posts the login request; reports later, once, through `callback` on an HTTP worker.
  // On 200 with a well-formed reply (an object whose "token" is text and whose "userId" is an
  // integer that fits 64 bits) it stores token and user id in the session, refreshes the
  // tracker and posts the login event, then passes the reply on unchanged; a 200 that is not
  // well-formed gives -501 "Server JSON Parse Error." and leaves the session untouched. Every
  // other code is passed on unchanged. `generation` is the session's login generation when the
  // game asked to log in: after a Logout since then the reply is passed on but nothing stored.
  void Login(const std::string& steamId, const std::string& ticketHex, uint64_t generation,
             const GameCallback& callback);

 private:
  void HandleLoginReply(const Answer<LoginReply>& answer, const std::string& steamId, uint64_t generation,
                        const GameCallback& callback);

  ZarnApi& api_;
  SessionState& session_;
  CZarnTrack& track_;
};

}  // namespace ZarnSdk
