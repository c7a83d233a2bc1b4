// Calls the installed SDK before Init, as a game might while its menu is up, through the C++
// interface and the C interface: payment is not available and Login is refused at once, on the
// calling thread. Prints the paths of the Zarn libraries it loaded so the test can check they
// come from the install prefix. Built with ZARN_SDK_HEADER_ONLY_CPP as well, where ZarnProxy.h
// wraps the C interface and the program must import no C++ symbol of the SDK.
#include <ZarnProxy.h>
#include <zarnsdk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

void PrintLoadedZarnLibraries();  // LoadedLibraries<OS>.cpp

namespace {

// Login before Init answers on the calling thread, so plain globals are enough here.
struct Reply {
  int calls = 0, code = 0;
  bool expected = false;  // texts, thread and user pointer as they should be
} g_cpp, g_c;
std::thread::id g_caller;
int g_user = 0;

void OnLogin(int code, std::wstring msg, std::wstring data) {
  g_cpp = {g_cpp.calls + 1, code, msg == L"Sdk Not Init." && data.empty() && std::this_thread::get_id() == g_caller};
}

void OnCLogin(int32_t code, const char* msg, const char* data, void* user) {
  g_c = {g_c.calls + 1, code,
         std::strcmp(msg, "Sdk Not Init.") == 0 && *data == '\0' && user == &g_user &&
             std::this_thread::get_id() == g_caller};
}

}  // namespace

int main() {
  g_caller = std::this_thread::get_id();
  ZarnProxy::Login(&OnLogin);
  zarn_login(&OnCLogin, &g_user);
  bool ok = !ZarnProxy::IsPayAvailable() && zarn_is_pay_available() == 0;
  for (const Reply* reply : {&g_cpp, &g_c}) {
    if (reply->calls != 1 || reply->code != ZARN_NOT_INIT || !reply->expected) {
      std::printf("consumer: %s Login before Init misbehaved (%d call(s), code %d)\n", reply == &g_c ? "C" : "C++",
                  reply->calls, reply->code);
      ok = false;
    }
  }
  // The library must be the version its CMake package claims.
  if (std::strcmp(zarn_version(), ZARN_CONSUMER_EXPECTED_VERSION) != 0) {
    std::printf("consumer: library version %s, package version %s\n", zarn_version(), ZARN_CONSUMER_EXPECTED_VERSION);
    ok = false;
  }
  PrintLoadedZarnLibraries();
  std::puts(ok ? "consumer: ok" : "consumer: failed (or payment available before Init)");
  return ok ? 0 : 1;
}
