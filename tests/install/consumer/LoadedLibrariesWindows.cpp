// The Zarn DLLs among the modules loaded into this process, with the paths they came from.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwctype>
#include <string>

void PrintLoadedZarnLibraries() {
  HMODULE modules[1024];
  DWORD bytes = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes)) return;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(modules[i], path.data(), static_cast<DWORD>(path.size())));
    std::wstring lower = path;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    if (lower.find(L"zarnsdk64_mt") == std::wstring::npos && lower.find(L"steam_api64") == std::wstring::npos) continue;
    std::string utf8(path.size() * 3, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                                         utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
    std::printf("loaded: %s\n", utf8.c_str());
  }
}
