#include "StepReport.h"

#include <cstdio>

#include "JsonText.h"
#include "WideText.h"

namespace sample {
namespace {

constexpr const char* kIndent = "        ";

std::string Milliseconds(long long ms) { return std::to_string(ms) + " ms"; }

}  // namespace

StepReport::StepReport(std::ostream& out, int totalSteps) : out_(out), total_(totalSteps) {}

void StepReport::Header(const std::string& title) {
  ++started_;
  char number[32];
  std::snprintf(number, sizeof number, "[%2d/%d] ", started_, total_);
  out_ << "\n" << number << title << "\n";
}

void StepReport::Begin(const std::string& title) {
  Header(title);
  out_.flush();
  begin_ = std::chrono::steady_clock::now();
}

long long StepReport::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin_).count();
}

void StepReport::Note(const std::string& line) { out_ << kIndent << line << "\n"; }

void StepReport::ShowAnswer(const CallbackAnswer& answer, std::thread::id mainThread) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(answer.arrived - begin_).count();
  out_ << kIndent << "callback: code " << answer.code << ", msg \"" << ToUtf8(answer.msg) << "\", "
       << (answer.thread == mainThread ? "on the calling thread" : "on an SDK thread") << ", after "
       << Milliseconds(ms) << "\n";
  if (answer.data.empty()) {
    out_ << kIndent << "data: (empty)\n";
  } else {
    out_ << kIndent << "data:\n" << PrettyJsonText(answer.data, std::string(kIndent) + "  ");
  }
}

void StepReport::Pass() {
  ++passed_;
  out_ << kIndent << "PASS (" << Milliseconds(ElapsedMs()) << ")\n";
  out_.flush();
}

void StepReport::Fail(const std::string& reason) {
  ++failed_;
  out_ << kIndent << "FAIL (" << Milliseconds(ElapsedMs()) << "): " << reason << "\n";
  out_.flush();
}

void StepReport::Skip(const std::string& title, const std::string& reason) {
  Header(title);
  ++skipped_;
  out_ << kIndent << "SKIPPED: " << reason << "\n";
  out_.flush();
}

void StepReport::PrintSummary() {
  out_ << "\nSUMMARY: " << passed_ << "/" << total_ << " steps passed";
  if (failed_ > 0 || skipped_ > 0) out_ << " (" << failed_ << " failed, " << skipped_ << " skipped)";
  out_ << "\n";
  out_.flush();
}

}  // namespace sample
