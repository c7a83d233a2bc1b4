// The Zarn libraries among the objects the dynamic loader mapped into this process.
#include <link.h>

#include <cstdio>
#include <cstring>

namespace {

int PrintIfZarn(dl_phdr_info* info, size_t, void*) {
  const char* name = info->dlpi_name;
  if (name != nullptr && (std::strstr(name, "zarnsdk64_mt") || std::strstr(name, "steam_api64"))) {
    std::printf("loaded: %s\n", name);
  }
  return 0;
}

}  // namespace

void PrintLoadedZarnLibraries() { dl_iterate_phdr(&PrintIfZarn, nullptr); }
