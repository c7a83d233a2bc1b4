// Windows implementation of the platform services.
#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <rpc.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <iostream>

#ifdef _MSC_VER
#pragma comment(lib, "advapi32.lib")
#pragma comment(lib, "ole32.lib")
#pragma comment(lib, "rpcrt4.lib")
#pragma comment(lib, "shell32.lib")
#pragma comment(lib, "user32.lib")
#pragma comment(lib, "uuid.lib")
#endif

namespace zarnplatform {
namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (chars <= 0) return {};
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), chars);
  return wide;
}

std::string Narrow(const wchar_t* wide, size_t length) {
  if (length == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

bool MakeOneFolder(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(Narrow(path.c_str(), path.size()));
}

bool WriteAll(HANDLE file, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::optional<std::string> EnvironmentVariable(const char* name) {
  const std::wstring wideName = Widen(name);
  // The value may change between the two calls: ask again until it fits.
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return std::nullopt;  // unset, or set to the empty text
    if (length < value.size()) return Narrow(value.data(), length);
    value.assign(length, L'\0');
  }
}

bool IsAbsolutePath(const std::string& path) {
  // "C:\x": a drive and its root. "C:x" is relative to the drive's current folder.
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      IsSeparator(path[2])) {
    return true;
  }
  // "\\server\share\x" (also "\\?\C:\x"): a server's name and a share's, each non-empty.
  if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2])) return false;
  const size_t shareStart = path.find_first_of("\\/", 2) + 1;
  return shareStart != 0 && shareStart < path.size() && !IsSeparator(path[shareStart]);
}

std::optional<std::string> LocalDataFolder() {
  PWSTR folder = nullptr;
  // A profile without the folder yet (a fresh or repaired one) gets it made, as Windows would.
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &folder);
  std::optional<std::string> path;
  if (SUCCEEDED(result) && folder != nullptr) path = Narrow(folder, std::wcslen(folder));
  // The folder text is the caller's to release even when the call failed.
  CoTaskMemFree(folder);
  return path;
}

std::string FallbackDataFolder() { return "C:/ZarnSteamExeSdk"; }

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const std::string& path, bool withParents) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  const std::wstring wide = Widen(path);
  if (withParents) {
    // Drive roots and UNC share names cannot be created and need not be: only the last
    // folder's creation decides the result.
    for (size_t separator = wide.find_first_of(L"\\/", 1); separator != std::wstring::npos;
         separator = wide.find_first_of(L"\\/", separator + 1)) {
      CreateDirectoryW(wide.substr(0, separator).c_str(), nullptr);
    }
  }
  return MakeOneFolder(wide);
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes, ReadFailure* failure) {
  ReadFailure why = ReadFailure::Other;
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A sharing or lock violation (another program holds the file) is no sign of absence.
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) why = ReadFailure::NotFound;
    if (failure != nullptr) *failure = why;
    return std::nullopt;
  }
  std::optional<std::string> content;
  LARGE_INTEGER size{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0) {
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) why = ReadFailure::TooLarge;
    std::string data;
    char buffer[4096];
    while (why != ReadFailure::TooLarge) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) break;
      if (got == 0) {
        content = std::move(data);
        break;
      }
      if (data.size() + got > maxBytes) why = ReadFailure::TooLarge;
      data.append(buffer, got);
    }
  }
  CloseHandle(file);
  if (!content && failure != nullptr) *failure = why;
  return content;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  if (path.empty()) return false;
  static std::atomic<unsigned long> sequence{0};
  const std::wstring target = Widen(path);
  const std::wstring temporary = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(sequence.fetch_add(1));
  const HANDLE file =
      CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteAll(file, content) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  // A virus scanner, an indexer or a backup tool may hold the target open for a moment, which
  // makes the replacement fail with a sharing error: try again, pausing 10 ms and doubling,
  // about 310 ms in all, before giving up.
  for (DWORD pause = 10; written; pause *= 2) {
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) ||
        pause > 160) {
      break;
    }
    Sleep(pause);
  }
  DeleteFileW(temporary.c_str());
  return false;
}

int RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minAge) {
  const std::wstring base = Widen(folder) + L"\\";
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((base + L"*.tmp-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FILETIME nowFile{};
  GetSystemTimeAsFileTime(&nowFile);
  const auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  const uint64_t minAgeTicks = static_cast<uint64_t>(minAge.count()) * 10000000ULL;  // 100 ns units
  int removed = 0;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    if (ticks(nowFile) - ticks(found.ftLastWriteTime) < minAgeTicks) continue;
    if (DeleteFileW((base + found.cFileName).c_str())) ++removed;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

PrivateAppendFile::~PrivateAppendFile() { Close(); }

bool PrivateAppendFile::Open(const std::string& path) {
  Close();
  // The reparse-point flag opens a planted link itself instead of its target; such a file is
  // then refused below. The file inherits the ACL of the user's own folder.
  const HANDLE file = CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
      GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool PrivateAppendFile::Append(const std::string& bytes) {
  return IsOpen() && WriteAll(reinterpret_cast<HANDLE>(handle_), bytes);
}

void PrivateAppendFile::Close() {
  if (!IsOpen()) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
}

void PinModuleContaining(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     static_cast<LPCWSTR>(address), &module);
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

int64_t WallClockMillis() {
  // 100 ns units since 1601-01-01; 11644473600 s lie between that and 1970-01-01.
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600LL * 1000;
}

std::string MachineId() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    std::cout << "Failed to open registry key x64" << std::endl;
    return {};
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, L"MachineGuid", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    std::cout << "Failed to query value size" << std::endl;
    RegCloseKey(key);
    return {};
  }
  if (type != REG_SZ) {
    std::cout << "Incorrect registry value type" << std::endl;
    RegCloseKey(key);
    return {};
  }
  // One character more than reported, zeroed, so the text ends even if the stored one does not.
  std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD read = size;
  if (RegQueryValueExW(key, L"MachineGuid", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer.data()), &read) !=
      ERROR_SUCCESS) {
    std::cout << "Failed to read registry value" << std::endl;
    RegCloseKey(key);
    return {};
  }
  RegCloseKey(key);
  size_t length = std::min<size_t>(read / sizeof(wchar_t), buffer.size());
  const size_t terminator = buffer.find(L'\0');
  if (terminator < length) length = terminator;
  return Narrow(buffer.data(), length);
}

std::string RandomUuid() {
  UUID uuid{};
  if (UuidCreate(&uuid) != RPC_S_OK) return {};
  RPC_CSTR text = nullptr;
  if (UuidToStringA(&uuid, &text) != RPC_S_OK || text == nullptr) return {};
  std::string formatted(reinterpret_cast<const char*>(text));
  RpcStringFreeA(&text);
  return formatted;
}

std::string OsVersionText() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll");
  if (ntdll == nullptr) return "_unknown";
  const FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
  if (address == nullptr) return "_unknown";
  using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
  RtlGetVersionFunction rtlGetVersion = nullptr;
  static_assert(sizeof rtlGetVersion == sizeof address);
  std::memcpy(&rtlGetVersion, &address, sizeof rtlGetVersion);

  // A size of 284 tells RtlGetVersion to fill the extended record, so the record passed must
  // be the extended one: a plain RTL_OSVERSIONINFOW is only 276 bytes long.
  RTL_OSVERSIONINFOEXW info{};
  static_assert(sizeof info == 284);
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&info)) != 0) return "_unknown";
  return WindowsVersionName(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}

std::optional<std::pair<long, long>> PrimaryScreenSize() {
  RECT rect{};
  if (!GetWindowRect(GetDesktopWindow(), &rect)) return std::nullopt;
  return std::make_pair(static_cast<long>(rect.right), static_cast<long>(rect.bottom));
}

std::optional<long> StandardBiasMinutes() {
  TIME_ZONE_INFORMATION zone{};
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return std::nullopt;
  return static_cast<long>(zone.Bias);
}

void OverrideSystemFilesForTesting(SystemFile, std::vector<std::string>) {}

}  // namespace zarnplatform
