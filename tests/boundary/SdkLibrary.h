// Loads the real shared library the way a game's loader would and resolves the twelve exports
// by their exported names, typed by the declarations of the public header.
//
// Loaded at run time (not linked) so that a test can prepare the process environment the
// library reads at load (API origin, trust store, profile folders) first.
#pragma once

#include <string>

#include "ZarnProxy.h"

namespace zarntest {

struct SdkLibrary {
  decltype(&ZarnProxy::CallPay) CallPay = nullptr;
  decltype(&ZarnProxy::Exit) Exit = nullptr;
  decltype(&ZarnProxy::Init) Init = nullptr;
  decltype(&ZarnProxy::IsPayAvailable) IsPayAvailable = nullptr;
  decltype(&ZarnProxy::Login) Login = nullptr;
  decltype(&ZarnProxy::Logout) Logout = nullptr;
  decltype(&ZarnProxy::PostEvent) PostEvent = nullptr;
  decltype(&ZarnProxy::QueryProducts) QueryProducts = nullptr;
  decltype(&ZarnProxy::SetGameUserId) SetGameUserId = nullptr;
  decltype(&ZarnProxy::SetLevel) SetLevel = nullptr;
  decltype(&ZarnProxy::SetNickName) SetNickName = nullptr;
  decltype(&ZarnProxy::SetServerId) SetServerId = nullptr;

  // Loads the library once per process (a game loads it once too); fails the test when the
  // library or any export is missing.
  static const SdkLibrary& Load();
};

}  // namespace zarntest
