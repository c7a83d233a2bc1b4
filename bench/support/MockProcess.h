// The mock backend (zarn-mock-backend) as a process of its own, so that its work is never
// counted as the measured process's, recording every request it answers to a JSON-lines file.
// One owner thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bench/support/ChildProcess.h"

namespace zarnbench {

class MockProcess {
 public:
  // Starts `program` with its files in `folder` (made when missing): plain HTTP unless `tls`,
  // plus `extraArgs`; returns once it listens. Throws std::runtime_error.
  MockProcess(const std::string& program, const std::string& folder, bool tls,
              const std::vector<std::string>& extraArgs = {});
  ~MockProcess();  // stops

  const std::string& Origin() const { return origin_; }
  const std::string& CaFile() const { return caFile_; }          // empty in plain HTTP
  const std::string& RecordFile() const { return recordFile_; }
  // POSTs to the outage path, which begins the outage the mock was started with (plain HTTP
  // only). Throws std::runtime_error unless the mock answered 200.
  void StartEventsOutage() const;
  // SIGTERM, then SIGKILL after 20 s.
  void Stop();
  // CPU time the mock used, once stopped.
  double CpuSeconds() const { return cpuSeconds_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string origin_, caFile_, recordFile_;
  double cpuSeconds_ = 0;
};

// Reads the lines a growing file gains; one owner thread.
class LineTail {
 public:
  explicit LineTail(std::string path) : path_(std::move(path)) {}
  // The complete lines added since the last call, without their line breaks.
  std::vector<std::string> NewLines();

 private:
  std::string path_;
  long long offset_ = 0;
  std::string partial_;
};

}  // namespace zarnbench
