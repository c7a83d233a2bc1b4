// Linux (POSIX) implementation of the platform services.
#include "platform/Platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zarnplatform {
namespace {

// Keys the derivation of the SDK's machine id, so that the id it sends cannot be matched with
// the raw machine id or with ids other software derives from it.
constexpr unsigned char kMachineIdKey[] = "ZarnSteamExeSdk machine id, version 1";

std::mutex overrideMutex;
std::vector<std::string> machineIdOverride;
std::vector<std::string> osReleaseOverride;

std::vector<std::string> FilesFor(SystemFile which) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  if (which == SystemFile::MachineId) {
    if (!machineIdOverride.empty()) return machineIdOverride;
    return {"/etc/machine-id", "/var/lib/dbus/machine-id"};
  }
  if (!osReleaseOverride.empty()) return osReleaseOverride;
  // os-release(5): the vendor's copy is read when /etc has none.
  return {"/etc/os-release", "/usr/lib/os-release"};
}

std::optional<std::string> AbsolutePathFromEnv(const char* name) {
  std::optional<std::string> path = EnvironmentVariable(name);
  if (!path || !IsAbsolutePath(*path)) return std::nullopt;
  while (path->size() > 1 && path->back() == '/') path->pop_back();
  return path;
}

std::string JoinPath(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool MakeOneFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  return errno == EEXIST && FolderExists(path);
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadExactly(int fd, unsigned char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string LowerHex(const unsigned char* bytes, size_t size) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0F];
  }
  return out;
}

// The first line of a machine-id file when it is the documented 32 hexadecimal digits
// (lower-cased); empty otherwise, e.g. "uninitialized" during early boot.
std::string MachineIdFromFileContent(const std::string& content) {
  std::string line = content.substr(0, content.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  if (line.size() != 32) return {};
  for (char& c : line) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
  }
  return line;
}

// A value of an os-release assignment: shell-style double quotes (with backslash escapes),
// single quotes, or a bare word.
std::string UnquoteOsReleaseValue(const std::string& raw) {
  if (raw.empty()) return {};
  const char quote = raw.front();
  if (quote != '"' && quote != '\'') {
    std::string bare = raw;
    while (!bare.empty() && (bare.back() == ' ' || bare.back() == '\t' || bare.back() == '\r')) bare.pop_back();
    return bare;
  }
  std::string out;
  for (size_t i = 1; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == quote) break;
    if (quote == '"' && c == '\\' && i + 1 < raw.size()) {
      out += raw[++i];
      continue;
    }
    out += c;
  }
  return out;
}

std::string PrettyNameFromOsRelease(const std::string& content) {
  static constexpr char key[] = "PRETTY_NAME=";
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(start, end - start);
    if (line.compare(0, sizeof key - 1, key) == 0) return UnquoteOsReleaseValue(line.substr(sizeof key - 1));
    start = end + 1;
  }
  return {};
}

// dlsym gives an object pointer; copying its bytes is the portable way to a function pointer.
template <class Function>
Function LoadSymbol(void* library, const char* name) {
  void* address = ::dlsym(library, name);
  Function function = nullptr;
  static_assert(sizeof function == sizeof address);
  std::memcpy(&function, &address, sizeof function);
  return function;
}

}  // namespace

std::optional<std::string> EnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  return std::string(value);
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::optional<std::string> LocalDataFolder() {
  if (auto xdg = AbsolutePathFromEnv("XDG_DATA_HOME")) return xdg;
  if (auto home = AbsolutePathFromEnv("HOME")) return JoinPath(*home, ".local/share");
  return std::nullopt;
}

// The root of the file system, as "C:/ZarnSteamExeSdk" is on Windows: only an administrator
// could have made it, and the SDK never does.
std::string FallbackDataFolder() { return "/ZarnSteamExeSdk"; }

bool FolderExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateFolder(const std::string& path, bool withParents) {
  if (path.empty()) return false;
  if (FolderExists(path)) return true;
  if (withParents) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      const std::string prefix = path.substr(0, slash);
      if (!FolderExists(prefix) && !MakeOneFolder(prefix)) return false;
    }
  }
  return MakeOneFolder(path);
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t maxBytes, ReadFailure* failure) {
  const auto fail = [failure](ReadFailure why) {
    if (failure != nullptr) *failure = why;
    return std::nullopt;
  };
  // Non-blocking so that a FIFO planted under the file's name cannot stall the caller.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return fail(errno == ENOENT ? ReadFailure::NotFound : ReadFailure::Other);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return fail(ReadFailure::Other);
  }
  if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    ::close(fd);
    return fail(ReadFailure::TooLarge);
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || content.size() + static_cast<size_t>(n) > maxBytes) {
      ::close(fd);
      return fail(n < 0 ? ReadFailure::Other : ReadFailure::TooLarge);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content) {
  if (path.empty()) return false;
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  // The folder is not synced after the rename: that would only make the new document survive
  // a power loss too (the old one survives it anyway), at the price of a second disk flush on
  // the caller's thread for every analytics event.
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

int RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds minAge) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  const time_t now = ::time(nullptr);
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.find(".tmp-") == std::string::npos) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    if (now - info.st_mtime < minAge.count()) continue;
    if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

PrivateAppendFile::~PrivateAppendFile() { Close(); }

bool PrivateAppendFile::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                        0600);
  if (fd < 0) return false;
  struct stat info {};
  // A FIFO or device planted under the name is not a log file.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool PrivateAppendFile::Append(const std::string& bytes) {
  return IsOpen() && WriteAll(static_cast<int>(handle_), bytes);
}

void PrivateAppendFile::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

void PinModuleContaining(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  // The handle is never closed: it is the pin.
  (void)::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

int64_t WallClockMillis() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return MillisFromTimespec(now.tv_sec, now.tv_nsec);
}

std::string MachineId() {
  for (const std::string& file : FilesFor(SystemFile::MachineId)) {
    const auto content = ReadWholeFile(file, 4096);
    if (!content) continue;
    const std::string raw = MachineIdFromFileContent(*content);
    if (raw.empty()) continue;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (HMAC(EVP_sha256(), kMachineIdKey, sizeof kMachineIdKey - 1, reinterpret_cast<const unsigned char*>(raw.data()),
             raw.size(), digest, &digestSize) == nullptr ||
        digestSize < 16) {
      return {};
    }
    return LowerHex(digest, 16);
  }
  return {};
}

std::string RandomUuid() {
  unsigned char bytes[16];
  ssize_t got = -1;
  do {
    got = ::getrandom(bytes, sizeof bytes, 0);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof bytes)) {
    // Kernels before 3.17 lack getrandom.
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const bool ok = ReadExactly(fd, bytes, sizeof bytes);
    ::close(fd);
    if (!ok) return {};
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4: random
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const std::string hex = LowerHex(bytes, sizeof bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

std::string OsVersionText() {
  for (const std::string& file : FilesFor(SystemFile::OsRelease)) {
    const auto content = ReadWholeFile(file, 64 * 1024);
    if (!content) continue;
    const std::string name = PrettyNameFromOsRelease(*content);
    if (!name.empty()) return name;
  }
  return "_unknown";
}

std::optional<std::pair<long, long>> PrimaryScreenSize() {
  // Without a display there is nothing to ask, and libX11 need not even be loaded.
  if (!EnvironmentVariable("DISPLAY")) return std::nullopt;

  // Loaded at run time so that the SDK runs on machines without X11.
  void* library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::nullopt;
  using OpenDisplay = void* (*)(const char*);
  using CloseDisplay = int (*)(void*);
  using DefaultScreen = int (*)(void*);
  using ScreenDimension = int (*)(void*, int);
  const auto openDisplay = LoadSymbol<OpenDisplay>(library, "XOpenDisplay");
  const auto closeDisplay = LoadSymbol<CloseDisplay>(library, "XCloseDisplay");
  const auto defaultScreen = LoadSymbol<DefaultScreen>(library, "XDefaultScreen");
  const auto displayWidth = LoadSymbol<ScreenDimension>(library, "XDisplayWidth");
  const auto displayHeight = LoadSymbol<ScreenDimension>(library, "XDisplayHeight");

  std::optional<std::pair<long, long>> size;
  if (openDisplay && closeDisplay && defaultScreen && displayWidth && displayHeight) {
    if (void* connection = openDisplay(nullptr)) {
      const int screen = defaultScreen(connection);
      size = std::make_pair(static_cast<long>(displayWidth(connection, screen)),
                            static_cast<long>(displayHeight(connection, screen)));
      closeDisplay(connection);
    }
  }
  ::dlclose(library);
  return size;
}

std::optional<long> StandardBiasMinutes() {
  // localtime_r need not look at TZ again; tzset makes a changed TZ count.
  ::tzset();
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return std::nullopt;
  // Some quarter of the coming year is outside daylight saving time in every zone that has it.
  for (int quarter = 0; quarter < 4; ++quarter) {
    const std::time_t probe = now + static_cast<std::time_t>(quarter) * 91 * 24 * 3600;
    struct tm local {};
    if (::localtime_r(&probe, &local) != nullptr && local.tm_isdst == 0) return -local.tm_gmtoff / 60;
  }
  // A zone in permanent daylight saving time: the C library's standard offset (seconds west).
  return static_cast<long>(::timezone / 60);
}

void OverrideSystemFilesForTesting(SystemFile which, std::vector<std::string> paths) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  (which == SystemFile::MachineId ? machineIdOverride : osReleaseOverride) = std::move(paths);
}

}  // namespace zarnplatform
