#include "bench/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zarnbench {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& added) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    bool replaced = false;
    for (const std::string& mine : added) replaced = replaced || mine.rfind(name, 0) == 0;
    if (!replaced) merged.push_back(text);
  }
  merged.insert(merged.end(), added.begin(), added.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, ChildOptions options) {
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envp = MergedEnvironment(options.environment);
  std::vector<char*> argPointers = Pointers(argv), envPointers = Pointers(envp);

  // Close-on-exec everywhere: a sibling started later must not hold these pipes open, or a
  // child would never see the end of its input.
  int inputPipe[2] = {-1, -1}, outputPipe[2] = {-1, -1};
  if ((options.pipeInput && ::pipe2(inputPipe, O_CLOEXEC) != 0) ||
      (options.pipeOutput && ::pipe2(outputPipe, O_CLOEXEC) != 0)) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  int logFile = -1;
  if (!options.logFile.empty()) {
    logFile = ::open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFile < 0) throw std::runtime_error("cannot open " + options.logFile);
  }

  pid_ = ::fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls until exec: the parent may have threads. Should the owner
    // die without cleaning up, the child goes too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (logFile >= 0) {
      ::dup2(logFile, STDOUT_FILENO);
      ::dup2(logFile, STDERR_FILENO);
    }
    if (inputPipe[0] >= 0) ::dup2(inputPipe[0], STDIN_FILENO);
    if (outputPipe[1] >= 0) ::dup2(outputPipe[1], STDOUT_FILENO);
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) ::_exit(126);
    ::execve(argPointers[0], argPointers.data(), envPointers.data());
    ::_exit(127);
  }
  const int forkError = errno;
  if (inputPipe[0] >= 0) ::close(inputPipe[0]);
  if (outputPipe[1] >= 0) ::close(outputPipe[1]);
  if (logFile >= 0) ::close(logFile);
  input_ = inputPipe[1];
  output_ = outputPipe[0];
  if (pid_ < 0) {
    CloseIfOpen(input_);
    CloseIfOpen(output_);
    throw std::runtime_error(std::string("fork: ") + std::strerror(forkError));
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  CloseIfOpen(input_);
  CloseIfOpen(output_);
}

bool ChildProcess::WriteLine(const std::string& line) {
  if (input_ < 0) return false;
  const std::string text = line + "\n";
  return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::CloseInput() { CloseIfOpen(input_); }

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    const size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    if (output_ < 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready = {output_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(output_, buffer, sizeof buffer);
    if (got <= 0) {
      CloseIfOpen(output_);
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(got));
  }
}

void ChildProcess::Signal(int signal) {
  if (Running()) ::kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  while (!status_) {
    int raw = 0;
    rusage usage{};
    const pid_t ended = ::wait4(pid_, &raw, WNOHANG, &usage);
    if (ended == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      cpuSeconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    } else if (ended < 0 && errno != EINTR) {
      status_ = -1;  // not ours to wait for any more
    } else if (Clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

void ChildProcess::Kill() {
  if (pid_ <= 0 || !Running()) return;
  ::kill(pid_, SIGKILL);
  Wait(std::chrono::minutes(1));
}

}  // namespace zarnbench
