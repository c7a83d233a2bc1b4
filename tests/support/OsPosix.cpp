// POSIX side of the tests' OS services.
#include "Os.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zarntest::os {

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zarn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void RemoveTree(const std::string& path) noexcept {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

bool ChangeDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

std::shared_ptr<void> HoldFileOpen(const std::string&, bool) { return nullptr; }

std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

std::string ExecutablePath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

namespace {

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

Process StartProcess(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& extraEnv) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (extraEnv.count(entry.substr(0, entry.find('='))) == 0) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : extraEnv) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return {};
  return {pid};
}

int RunProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extraEnv) {
  const auto pid = static_cast<pid_t>(StartProcess(program, args, extraEnv).id);
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) != pid) {
    if (errno != EINTR) return -1;
  }
  return ExitStatus(status);
}

void RequestStop(const Process& process, StopRequest request) {
  if (process.id <= 0) return;  // kill(-1, ...) would signal every process of the user
  ::kill(static_cast<pid_t>(process.id), request == StopRequest::Terminate ? SIGTERM : SIGINT);
}

std::optional<int> WaitForExit(const Process& process, std::chrono::milliseconds timeout) {
  if (process.id <= 0) return -1;  // waitpid(-1, ...) would reap any child
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(static_cast<pid_t>(process.id), &status, WNOHANG);
    if (ended == static_cast<pid_t>(process.id)) return ExitStatus(status);
    if (ended < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Kill(const Process& process) {
  if (process.id <= 0) return;
  ::kill(static_cast<pid_t>(process.id), SIGKILL);
  ::waitpid(static_cast<pid_t>(process.id), nullptr, 0);
}

void* OpenLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* LibrarySymbol(void* library, const char* name) { return ::dlsym(library, name); }

std::string LibraryError() {
  const char* error = ::dlerror();
  return error != nullptr ? error : "";
}

void CloseLibrary(void* library) { ::dlclose(library); }

std::optional<int> RunInForkedChild(const std::function<int()>& body, std::chrono::milliseconds& took) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) std::exit(body());
  int status = -1;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool OnlyOwnerMayRead(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 077) == 0;
}

namespace {

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

Socket BoundLoopback(uint16_t& port, const std::string& host = "127.0.0.1") {
  addrinfo hints{}, *found = nullptr;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) throw std::runtime_error(host);
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in6 address{};  // the port is at the same place in both families
  socklen_t length = sizeof address;
  const bool bound = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::freeaddrinfo(found);
  if (!bound) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("bind failed: " + host);
  }
  port = ntohs(address.sin6_port);
  return fd;
}

}  // namespace

Socket ListenLoopback(uint16_t& port, const std::string& host) {
  const Socket fd = BoundLoopback(port, host);
  if (::listen(static_cast<int>(fd), 64) != 0) {
    ::close(static_cast<int>(fd));
    throw std::runtime_error("listen failed");
  }
  return fd;
}

Socket ConnectLoopback(uint16_t port) {
  sockaddr_in address = LoopbackAddress(port);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return kNoSocket;
}

Socket BindWithoutListening(uint16_t& port) { return BoundLoopback(port); }

Socket ListenWithoutAdmitting(uint16_t& port, std::vector<Socket>& held) {
  const Socket fd = BoundLoopback(port);
  sockaddr_in address = LoopbackAddress(port);
  // Without a backlog one waiting connection fills the accept queue; later SYNs are dropped.
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::listen(static_cast<int>(fd), 0) != 0 || filler < 0 ||
      ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (filler >= 0) ::close(filler);
    ::close(static_cast<int>(fd));
    throw std::runtime_error("cannot fill the accept queue");
  }
  held.push_back(filler);
  return fd;
}

Socket Accept(Socket listener) {
  for (;;) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != EINTR && errno != ECONNABORTED) return kNoSocket;
  }
}

long Send(Socket socket, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool WaitReadable(Socket socket, std::chrono::milliseconds timeout) {
  pollfd entry{static_cast<int>(socket), POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(timeout.count())) != 0;
}

long Receive(Socket socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, 0);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

void Shutdown(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void Close(Socket socket) { ::close(static_cast<int>(socket)); }

void CloseWithReset(Socket socket) {
  const linger abortive{1, 0};
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  ::close(static_cast<int>(socket));
}

void IgnoreBrokenPipesOnThisThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool RunningUnderWine() { return false; }

const char* TurkishLocaleName() { return "tr_TR.UTF-8"; }

}  // namespace zarntest::os
