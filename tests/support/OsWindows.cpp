// Windows side of the tests' OS services.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "Os.h"

namespace zarntest::os {
namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), chars);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

// A command line that CommandLineToArgvW (and the C runtime) splits back into `args`.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  });
}

SOCKET AsSocket(Socket socket) { return static_cast<SOCKET>(socket); }

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

Socket BoundLoopback(uint16_t& port, const std::string& host = "127.0.0.1") {
  StartWinsock();
  addrinfo hints{}, *found = nullptr;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) throw std::runtime_error(host);
  const SOCKET s = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
  // Without exclusive use another test's server could be bound to the same port.
  const BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in6 address{};  // the port is at the same place in both families
  int length = sizeof address;
  const bool bound = s != INVALID_SOCKET && bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                     getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  freeaddrinfo(found);
  if (!bound) {
    if (s != INVALID_SOCKET) closesocket(s);
    throw std::runtime_error("bind failed: " + host);
  }
  port = ntohs(address.sin6_port);
  return static_cast<Socket>(s);
}

}  // namespace

std::string MakeTempFolder() {
  std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path = std::filesystem::temp_directory_path() / ("zarn-test-" + std::to_string(random() % 1000000000));
    if (CreateDirectoryW(path.wstring().c_str(), nullptr)) return path.string();
  }
  throw std::runtime_error("cannot make a temporary folder");
}

void RemoveTree(const std::string& path) noexcept {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    SetFileAttributesW(it->path().wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  fs::remove_all(path, ec);
}

bool ChangeDirectory(const std::string& path) { return SetCurrentDirectoryW(Widen(path).c_str()) != FALSE; }

bool MakeFifo(const std::string&) { return false; }

std::shared_ptr<void> HoldFileOpen(const std::string& path, bool shareReading) {
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, shareReading ? FILE_SHARE_READ : 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::shared_ptr<void>(file, CloseHandle);
}

std::optional<std::string> GetEnv(const std::string& name) {
  const wchar_t* value = _wgetenv(Widen(name).c_str());
  if (value == nullptr) return std::nullopt;
  return Narrow(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  // The C runtime's copies (narrow and wide) and the process's block (which the SDK and child
  // processes read) all change; an empty value removes the variable.
  _wputenv_s(Widen(name).c_str(), value ? Widen(*value).c_str() : L"");
}

std::string ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return Narrow(path);
    }
    path.resize(path.size() * 2);
  }
}

Process StartProcess(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& extraEnv) {
  std::wstring commandLine = QuoteArgument(Widen(program));
  for (const auto& arg : args) commandLine += L" " + QuoteArgument(Widen(arg));

  // The environment block: this process's, with `extraEnv` replacing or adding entries.
  std::map<std::wstring, std::wstring> variables;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text(entry);
      const size_t equals = text.find(L'=', 1);  // "=C:=C:\..." entries start with '='
      if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : extraEnv) variables[Widen(name)] = Widen(value);
  std::wstring environment;
  for (const auto& [name, value] : variables) environment += name + L"=" + value + L'\0';
  environment += L'\0';

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Its own process group, so that a console control event can be sent to it alone.
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, environment.data(), nullptr, &startup,
                      &info)) {
    return {};
  }
  CloseHandle(info.hThread);
  return {reinterpret_cast<std::intptr_t>(info.hProcess)};
}

int RunProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extraEnv) {
  const Process process = StartProcess(program, args, extraEnv);
  if (process.id == -1) return -1;
  return *WaitForExit(process, std::chrono::milliseconds::max());
}

void RequestStop(const Process& process, StopRequest request) {
  if (process.id == -1) return;
  const DWORD id = GetProcessId(reinterpret_cast<HANDLE>(process.id));
  GenerateConsoleCtrlEvent(request == StopRequest::Interrupt ? CTRL_C_EVENT : CTRL_BREAK_EVENT, id);
  // The project's programs also take a stop request through a named event, for when they have
  // no console in common with the caller.
  const std::wstring name = L"Local\\zarn-stop-" + std::to_wstring(id);
  if (const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
    SetEvent(event);
    CloseHandle(event);
  }
}

std::optional<int> WaitForExit(const Process& process, std::chrono::milliseconds timeout) {
  if (process.id == -1) return -1;
  const auto handle = reinterpret_cast<HANDLE>(process.id);
  const DWORD wait = timeout == std::chrono::milliseconds::max()
                         ? INFINITE
                         : static_cast<DWORD>(std::min<long long>(timeout.count(), INFINITE - 1));
  if (WaitForSingleObject(handle, wait) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(handle, &code);
  CloseHandle(handle);
  return static_cast<int>(code);
}

void Kill(const Process& process) {
  if (process.id == -1) return;
  const auto handle = reinterpret_cast<HANDLE>(process.id);
  TerminateProcess(handle, 137);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

void* OpenLibrary(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryW(Widen(path).c_str())); }

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

std::string LibraryError() { return "Windows error " + std::to_string(GetLastError()); }

void CloseLibrary(void* library) { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

std::optional<int> RunInForkedChild(const std::function<int()>&, std::chrono::milliseconds&) { return std::nullopt; }

bool OnlyOwnerMayRead(const std::string&) { return true; }

Socket ListenLoopback(uint16_t& port, const std::string& host) {
  const Socket s = BoundLoopback(port, host);
  if (listen(AsSocket(s), SOMAXCONN) != 0) {
    closesocket(AsSocket(s));
    throw std::runtime_error("listen failed");
  }
  return s;
}

Socket ConnectLoopback(uint16_t port) {
  sockaddr_in address = LoopbackAddress(port);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return Socket(s);
  if (s != INVALID_SOCKET) closesocket(s);
  return kNoSocket;
}

Socket BindWithoutListening(uint16_t& port) { return BoundLoopback(port); }

Socket ListenWithoutAdmitting(uint16_t& port, std::vector<Socket>& held) {
  const Socket s = BoundLoopback(port);
  sockaddr_in address = LoopbackAddress(port);
  const SOCKET filler = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listen(AsSocket(s), 0) != 0 || filler == INVALID_SOCKET ||
      connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (filler != INVALID_SOCKET) closesocket(filler);
    closesocket(AsSocket(s));
    throw std::runtime_error("cannot fill the accept queue");
  }
  held.push_back(static_cast<Socket>(filler));
  return s;
}

Socket Accept(Socket listener) {
  const SOCKET s = accept(AsSocket(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

long Send(Socket socket, const char* data, std::size_t size) {
  return send(AsSocket(socket), data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

bool WaitReadable(Socket socket, std::chrono::milliseconds timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(AsSocket(socket), &readable);
  timeval limit{static_cast<long>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000 * 1000)};
  return select(0, &readable, nullptr, nullptr, &limit) != 0;
}

long Receive(Socket socket, char* buffer, std::size_t size) {
  return recv(AsSocket(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

namespace {
// A blocked accept() wakes only when its socket is closed: Shutdown closes a listener at once
// and Close then skips it.
std::mutex closedMutex;
std::set<Socket> closedEarly;
}  // namespace

void Shutdown(Socket socket) {
  if (shutdown(AsSocket(socket), SD_BOTH) == 0 || WSAGetLastError() != WSAENOTCONN) return;
  std::lock_guard<std::mutex> lock(closedMutex);
  closedEarly.insert(socket);
  closesocket(AsSocket(socket));
}

void Close(Socket socket) {
  {
    std::lock_guard<std::mutex> lock(closedMutex);
    if (closedEarly.erase(socket) != 0) return;
  }
  closesocket(AsSocket(socket));
}

void CloseWithReset(Socket socket) {
  const linger abortive{1, 0};
  setsockopt(AsSocket(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
  closesocket(AsSocket(socket));
}

// Windows has no SIGPIPE: a write to a closed connection fails with an error instead.
void IgnoreBrokenPipesOnThisThread() {}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const char* TurkishLocaleName() { return "Turkish_Turkey.1254"; }

}  // namespace zarntest::os
