// Every operating-system service the tests use, behind plain functions: one implementation file
// per OS (OsPosix.cpp, OsWindows.cpp). No test file includes an OS header of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zarntest::os {

// ---- files and folders
// A fresh folder private to the user under the system's temporary folder.
std::string MakeTempFolder();
// Removes the tree, making read-only entries writable first. Never throws.
void RemoveTree(const std::string& path) noexcept;
// Changes the process's working folder; false on failure.
bool ChangeDirectory(const std::string& path);
// A named pipe at `path`; false on failure, and always where the file system has none (Windows).
bool MakeFifo(const std::string& path);
// Opens the file as a virus scanner may, until released: sharing nothing, or reading only. Null
// on failure, and always where files have no sharing modes (POSIX).
std::shared_ptr<void> HoldFileOpen(const std::string& path, bool shareReading);

// ---- environment (UTF-8 names and values, whatever the system's code page)
std::optional<std::string> GetEnv(const std::string& name);
// nullopt removes the variable.
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// ---- processes
std::string ExecutablePath();
// Runs `program` with `args` and this process's environment plus `extraEnv`, and waits for it:
// its exit status, 128 + the signal number when a signal ended it, -1 when it could not start.
int RunProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extraEnv = {});
// The same, without waiting: a running program, to stop and reap with the functions below.
struct Process {
  std::intptr_t id = -1;  // -1: it could not start
};
Process StartProcess(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& extraEnv = {});
// Asks it to end the way a service manager (Terminate) or a console's Ctrl-C (Interrupt) does.
enum class StopRequest { Terminate, Interrupt };
void RequestStop(const Process& process, StopRequest request);
// Its exit status as RunProcess gives it, or nullopt while it still runs after `timeout`.
std::optional<int> WaitForExit(const Process& process, std::chrono::milliseconds timeout);
// Ends a program that has not been reaped yet at once, and reaps it.
void Kill(const Process& process);

// ---- shared libraries, loaded the way a game's loader does
void* OpenLibrary(const std::string& path);  // null on failure
void* LibrarySymbol(void* library, const char* name);
std::string LibraryError();
// Unloads it the way a game's plugin manager does (dlclose, FreeLibrary).
void CloseLibrary(void* library);
// Runs `body` in a child made by fork(), which ends with std::exit(body()), and waits for it:
// its exit status and how long it took, or nullopt where there is no fork() (Windows).
std::optional<int> RunInForkedChild(const std::function<int()>& body, std::chrono::milliseconds& took);
// Whether only the file's owner may read it (POSIX mode bits; on Windows the profile folder's
// access rules decide, and this is true).
bool OnlyOwnerMayRead(const std::string& path);

// ---- loopback sockets, for the tests' own servers
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;
// A TCP socket listening on `host` (a loopback address: 127.x.y.z or ::1); `port` 0 picks a free
// one and returns it. Throws when it cannot (no IPv6 on the machine, the port taken).
Socket ListenLoopback(uint16_t& port, const std::string& host = "127.0.0.1");
// A socket bound to a loopback port that never listens: connections to it are refused.
Socket BindWithoutListening(uint16_t& port);
// A loopback port where connection attempts neither complete nor fail: its listener takes no
// more connections. `held` receives the sockets that keep it so, to be closed with the listener.
Socket ListenWithoutAdmitting(uint16_t& port, std::vector<Socket>& held);
// A connection to 127.0.0.1:`port` (blocking); kNoSocket when it fails.
Socket ConnectLoopback(uint16_t port);
// Blocks until a connection arrives; kNoSocket once the listener was shut down.
Socket Accept(Socket listener);
// Bytes moved (0: the peer closed), or -1 on an error.
long Send(Socket socket, const char* data, std::size_t size);
long Receive(Socket socket, char* buffer, std::size_t size);
// Whether `socket` has bytes (or an end) to read within `timeout`.
bool WaitReadable(Socket socket, std::chrono::milliseconds timeout);
// Wakes any thread blocked on the socket (accept, receive).
void Shutdown(Socket socket);
void Close(Socket socket);
// Closes with a TCP reset instead of an orderly close.
void CloseWithReset(Socket socket);
// The server's writes to a client that already left must not end the test process.
void IgnoreBrokenPipesOnThisThread();
// True when the program runs under Wine, whose Winsock reports a connection reset after
// received data as an orderly close (recv returns 0, not WSAECONNRESET as Windows does).
bool RunningUnderWine();
// The name setlocale() knows Turkish by (its case rules fold 'I' to a dotless i on glibc).
const char* TurkishLocaleName();

}  // namespace zarntest::os
