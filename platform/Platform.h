// Operating-system services of the storage and device-identity code, as plain functions. One
// implementation file per OS (PlatformPosix.cpp, PlatformWindows.cpp); the SDK calls only these
// and holds no OS conditionals of its own.
//
// Every path and text crossing this header is UTF-8. Every function may be called from any
// thread, none throws, and none keeps state between calls except the test seam at the end
// (guarded by its own mutex).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zarnplatform {

// Separator the OS itself uses between a folder and its entries; the SDK keeps it between the
// user's local data folder and its own folder name, and joins everything it appends with "/".
#ifdef _WIN32
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr char kNativeSeparator = '/';
#endif

// An environment variable's value as UTF-8 (Windows: read as UTF-16 and converted, so a value
// outside the ANSI code page survives); nullopt when it is unset or empty.
std::optional<std::string> EnvironmentVariable(const char* name);

// Whether `path` names the same folder whatever the current drive and folder are: "/..." on
// POSIX; "X:\..." (or "X:/...") and "\\server\share..." on Windows, where "\x" is relative to the
// current drive.
bool IsAbsolutePath(const std::string& path);

// The user's local per-user data folder, without a trailing separator: the known folder
// LocalAppData on Windows (made when missing); $XDG_DATA_HOME, else $HOME/.local/share
// elsewhere (a variable counts only when it holds an absolute path). nullopt when the OS cannot
// tell.
std::optional<std::string> LocalDataFolder();

// The data folder used when the local data folder is unknown or the SDK's folder in it cannot
// be made. The SDK never creates it, so on a machine without it nothing is stored.
std::string FallbackDataFolder();

bool FolderExists(const std::string& path);

// Creates the folder (private to the user where the OS has such permissions). With
// `withParents` false the parent must already exist. True when the folder exists afterwards.
bool CreateFolder(const std::string& path, bool withParents);

// Why a file could not be read: it (or its folder) does not exist; it is larger than asked for;
// anything else (no access, held open by another program without sharing, not a regular file,
// an I/O error), which says nothing about its content.
enum class ReadFailure { NotFound, TooLarge, Other };

// The whole content of a regular file; nullopt (and the reason in `failure`, when given) when
// it is missing, unreadable, not a regular file or larger than `maxBytes`.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes, ReadFailure* failure = nullptr);

// Replaces the file with `content` so that a crash or power loss at any moment leaves either
// the old or the new content: a temporary file in the same folder is written and flushed to
// disk, then renamed over the target. While another program (a virus scanner, an indexer, a
// backup tool) holds the target open, the rename is tried again with growing pauses for about a
// third of a second. False (and the target untouched) on any failure.
bool ReplaceFileAtomically(const std::string& path, const std::string& content);

// Removes the files named "<name>.tmp-<anything>" in `folder` (temporary files of
// ReplaceFileAtomically that a crash left behind) whose last change is older than `minAge`, so a
// write still in progress in another process is never touched. Returns how many were removed.
int RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minAge);

// A file opened for appending that only this user may read: created with owner-only access when
// missing, never through a symbolic link (or reparse point) planted under its name, and only
// when it is a regular file. Closed by its destructor. Writes are whole-line appends.
class PrivateAppendFile {
 public:
  PrivateAppendFile() = default;
  ~PrivateAppendFile();
  PrivateAppendFile(const PrivateAppendFile&) = delete;
  PrivateAppendFile& operator=(const PrivateAppendFile&) = delete;

  // False when the file cannot be opened as described (the previous one stays closed).
  bool Open(const std::string& path);
  bool IsOpen() const { return handle_ != kClosed; }
  bool Append(const std::string& bytes);
  void Close();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
};

// Keeps the shared library (or program) that holds `address` loaded until the process ends,
// whatever the game does with its own handle: code of ours may still run on our threads.
void PinModuleContaining(const void* address);

// The wall clock in whole milliseconds since 1970-01-01 00:00 UTC. Computed from the OS's
// seconds and sub-seconds, so it does not wrap where a 64-bit count of nanoseconds does (2262).
int64_t WallClockMillis();
// The same for a POSIX time: whole seconds and nanoseconds.
constexpr int64_t MillisFromTimespec(int64_t seconds, int64_t nanoseconds) {
  return seconds * 1000 + nanoseconds / 1000000;
}

// The process's id; a child created by fork() has another one than its parent.
unsigned long CurrentProcessId();

// A stable identifier of this machine, or empty when none is available. Windows: the
// registry's MachineGuid as stored (failures are written to standard output). Elsewhere: an
// id derived from /etc/machine-id (else /var/lib/dbus/machine-id) by HMAC-SHA256 keyed with
// an SDK constant, as 32 lower-case hexadecimal digits, so the confidential raw id never
// leaves the machine.
std::string MachineId();

// A random (version 4) UUID, lower case, 8-4-4-4-12; empty when the OS generator fails.
std::string RandomUuid();

// Windows: the product name from RtlGetVersion ("Windows 10", ...). Elsewhere: PRETTY_NAME of
// os-release. "_unknown" when the OS cannot tell.
std::string OsVersionText();

// Width and height of the primary screen; nullopt when no display is reachable.
std::optional<std::pair<long, long>> PrimaryScreenSize();

// Minutes to add to local standard time (daylight saving never applied) to get UTC, as in
// Windows' time-zone record: -480 for UTC+8. nullopt when the OS cannot tell.
std::optional<long> StandardBiasMinutes();

// The product name of a Windows version, first matching row wins. Build 22000 itself still
// reads "Windows 10".
inline std::string WindowsVersionName(unsigned long major, unsigned long minor, unsigned long build) {
  if (major >= 10 && build > 22000) return "Windows 11";
  if (major == 10 && minor == 0) return "Windows 10";
  if (major == 6 && minor == 3) return "Windows 8.1";
  if (major == 6 && minor == 2) return "Windows 8";
  if (major == 6 && minor == 1) return "Windows 7";
  return "_unknown";
}

// ---- Test seam, not a product feature: the system files the POSIX implementation reads for
// MachineId and OsVersionText, in order of preference. An empty list restores the system's
// own files. Ignored on Windows, whose sources are the registry and the kernel.
enum class SystemFile { MachineId, OsRelease };
void OverrideSystemFilesForTesting(SystemFile which, std::vector<std::string> paths);

}  // namespace zarnplatform
