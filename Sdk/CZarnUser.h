// The server login: exchanges the Steam-validated ticket for the publisher's token and user id.
// Stateless; the player state it produces lives in CZarnCore.
#pragma once

#include <string>

#include "Sdk/HttpResp.h"
#include "ZarnProxy.h"

namespace ZarnSdk {

class CZarnUser {
 public:
  // Posts the login request; reports later, once, through `callback` on an HTTP worker.
  // A null callback is never called.
  static void Login(std::string steamId, std::string ticketHex, ResultCallback callback);

  // The login reply's completion (runs on an HTTP worker; public so the reply rules can be
  // exercised without a server). On 200 with a well-formed reply it stores token and user id
  // in the core (which sets isLogin), refreshes the tracker and posts the login event, then
  // passes the reply on unchanged. A 200 whose data is not a JSON object, whose "token" is not
  // a string or whose "userId" is not an integer that fits 64 bits (a boolean counts as 0/1)
  // gives -501 "Server JSON Parse Error." and leaves the core untouched. Every other code is
  // passed on unchanged. Never throws (except allocation failure).
  static void HandleLoginReply(const HttpResp& resp, const std::string& steamId, ResultCallback callback);
};

}  // namespace ZarnSdk
