// The server login: exchanges the Steam-validated ticket for the publisher's token and user id.
#pragma once

#include <string>

#include "ZarnProxy.h"

namespace ZarnSdk {

class CZarnUser {
 public:
  // Posts the login request; reports later, once, through `callback` on an HTTP worker.
  static void Login(std::string steamId, std::string ticketHex, ResultCallback callback);
};

}  // namespace ZarnSdk
