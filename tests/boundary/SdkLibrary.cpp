#include "SdkLibrary.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace zarntest {
namespace {

template <class F>
void Resolve(void* handle, const char* name, F& target) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  target = reinterpret_cast<F>(symbol);
}

SdkLibrary LoadOnce() {
  void* handle = dlopen(ZARN_SDK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("dlopen failed: ") + dlerror());
  SdkLibrary lib;
  // The GCC (Itanium C++ ABI) names of the declarations in ZarnProxy.h.
  Resolve(handle, "_ZN9ZarnProxy7CallPayENSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEES5_PFviS5_S5_E", lib.CallPay);
  Resolve(handle, "_ZN9ZarnProxy4ExitEv", lib.Exit);
  Resolve(handle, "_ZN9ZarnProxy4InitENSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEES5_PFviS5_S5_E", lib.Init);
  Resolve(handle, "_ZN9ZarnProxy14IsPayAvailableEv", lib.IsPayAvailable);
  Resolve(handle, "_ZN9ZarnProxy5LoginEPFviNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEES5_E", lib.Login);
  Resolve(handle, "_ZN9ZarnProxy6LogoutEv", lib.Logout);
  Resolve(handle, "_ZN9ZarnProxy9PostEventERKNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEES7_d", lib.PostEvent);
  Resolve(handle, "_ZN9ZarnProxy13QueryProductsEPFviNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEES5_E",
          lib.QueryProducts);
  Resolve(handle, "_ZN9ZarnProxy13SetGameUserIdENSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE", lib.SetGameUserId);
  Resolve(handle, "_ZN9ZarnProxy8SetLevelEi", lib.SetLevel);
  Resolve(handle, "_ZN9ZarnProxy11SetNickNameENSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE", lib.SetNickName);
  Resolve(handle, "_ZN9ZarnProxy11SetServerIdENSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE", lib.SetServerId);
  // Never dlclose: like a game, keep the library until the process ends.
  return lib;
}

}  // namespace

const SdkLibrary& SdkLibrary::Load() {
  static const SdkLibrary lib = LoadOnce();
  return lib;
}

}  // namespace zarntest
