// The process's one SDK, behind both interfaces (the C++ exports and the C exports), and the
// exception boundary every export goes through: nothing the layers below throw reaches the
// game; a failure is written to standard error (the log may be switched off).
#pragma once

#include <stdexcept>

#include "Sdk/SdkInstance.h"
#include "platform/Guarded.h"

namespace ZarnSdk {

// Created when the library is loaded (its Steam port registers the Steam callbacks then) and
// never destroyed: the game may call in, and SDK threads may run, until the process ends.
// Null only when its creation failed.
SdkInstance* ProcessSdk() noexcept;
// True in a child made by fork(): every export does nothing there, calls back nothing and
// writes nothing.
bool ProcessSdkIsInert() noexcept;
// Keeps the library loaded until the process ends; every export that can start a thread of
// the SDK's calls it first.
void PinProcessSdk() noexcept;

template <class F>
void WithSdk(const char* what, F&& body) noexcept {
  if (ProcessSdkIsInert()) return;
  PinProcessSdk();
  zarnplatform::Guarded(what, [&] {
    SdkInstance* sdk = ProcessSdk();
    if (sdk == nullptr) throw std::runtime_error("the SDK could not be created when the library was loaded");
    body(*sdk);
  });
}

}  // namespace ZarnSdk
