// Calls the installed SDK before Init, as a game might while its menu is up: payment is not
// available and Login is refused at once. Prints the paths of the Zarn libraries it loaded so
// the test can check they come from the install prefix.
#include <ZarnProxy.h>

#include <link.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Login before Init answers on the calling thread, so plain globals are enough here.
int g_calls = 0, g_code = 0;
bool g_expectedTexts = false;

void OnLogin(int code, std::wstring msg, std::wstring data) {
  ++g_calls;
  g_code = code;
  g_expectedTexts = msg == L"Sdk Not Init." && data.empty();
}

int PrintZarnLibrary(dl_phdr_info* info, size_t, void*) {
  const char* name = info->dlpi_name;
  if (name != nullptr && (std::strstr(name, "libzarnsdk64_mt") || std::strstr(name, "libsteam_api64"))) {
    std::printf("loaded: %s\n", name);
  }
  return 0;
}

}  // namespace

int main() {
  ZarnProxy::Login(&OnLogin);
  if (ZarnProxy::IsPayAvailable() || g_calls != 1 || g_code != -401 || !g_expectedTexts) {
    std::printf("consumer: before Init, IsPayAvailable or Login (%d call(s), code %d) misbehaved\n", g_calls, g_code);
    return 1;
  }
  dl_iterate_phdr(&PrintZarnLibrary, nullptr);
  std::puts("consumer: ok");
  return 0;
}
