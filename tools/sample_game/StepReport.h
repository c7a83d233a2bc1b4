// Prints the sample's steps as they run and keeps the tally for the closing summary line.
// Used from the main thread only.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "CallbackMailbox.h"

namespace sample {

class StepReport {
 public:
  StepReport(std::ostream& out, int totalSteps);

  // Starts the next step and its clock.
  void Begin(const std::string& title);
  void Note(const std::string& line);
  // Code, message, calling thread, time since Begin and the data, pretty-printed.
  void ShowAnswer(const CallbackAnswer& answer, std::thread::id mainThread);
  void Pass();
  void Fail(const std::string& reason);
  // Counts a step that could not run because an earlier one failed.
  void Skip(const std::string& title, const std::string& reason);

  bool AllPassed() const { return passed_ == total_; }
  // "SUMMARY: <passed>/<total> steps passed", with the failed and skipped counts if any.
  void PrintSummary();

 private:
  long long ElapsedMs() const;
  void Header(const std::string& title);

  std::ostream& out_;
  int total_;
  int started_ = 0;
  int passed_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
  std::chrono::steady_clock::time_point begin_;
};

}  // namespace sample
