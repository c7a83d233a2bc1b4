// A program started by a benchmark or a simulation, optionally with pipes to its standard input
// and from its standard output. POSIX only, like every program of bench/ (CMake builds bench/
// on Linux alone).
//
// Not thread-safe: one owner thread. The destructor kills and reaps a child still running, so a
// failing run leaves no process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zarnbench {

struct ChildOptions {
  std::vector<std::string> args;          // after the program's name
  std::vector<std::string> environment;   // NAME=VALUE, added to (or replacing in) ours
  std::string workingFolder;              // empty: ours
  std::string logFile;      // its standard error goes there, and its output unless piped; empty: ours
  bool pipeInput = false;   // WriteLine feeds its standard input
  bool pipeOutput = false;  // ReadLine reads its standard output
};

class ChildProcess {
 public:
  // Throws std::runtime_error when the program cannot be started.
  ChildProcess(const std::string& program, ChildOptions options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running() const { return !status_.has_value(); }

  // False when the child no longer reads. The owner ignores SIGPIPE, or a child that has gone
  // ends the owner too.
  bool WriteLine(const std::string& line);
  void CloseInput();
  // The next line of its output without the line break; nullopt at the end of its output or
  // when `timeout` passed first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  void Signal(int signal);
  // Its exit status (128 + the signal when a signal ended it); nullopt while it still runs
  // after `timeout`.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // SIGKILL and reap; nothing when it has ended.
  void Kill();
  // User and system CPU time it used, its own threads and its waited-for children; 0 until it
  // has ended and been waited for.
  double CpuSeconds() const { return cpuSeconds_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;  // output read past the last line handed out
  std::optional<int> status_;
  double cpuSeconds_ = 0;
};

}  // namespace zarnbench
