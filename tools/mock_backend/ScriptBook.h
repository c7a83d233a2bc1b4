// Per-path scripting of the mock server's answers for tests: a replaced body or HTTP status, a
// delay before answering, and failures before the normal answers (a number of them, or all
// until a moment: an outage).
//
// Thread-safe: one mutex guards the scripts and their failure counters.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace zarnmock {

struct ReplyScript {
  // Replaces the body of every answer on the path (raw bytes; need not be JSON). Replaced
  // answers have no side effects: no order is created, no transaction file written.
  std::optional<std::string> body;
  int httpStatus = 200;                          // status of every non-failure answer
  std::string contentType = "application/json;charset=utf-8";  // of replaced and failure bodies
  std::chrono::milliseconds delay{0};            // before every answer, failures included
  int failuresBeforeSuccess = 0;                 // the next N answers are the failure below
  std::chrono::steady_clock::time_point failUntil; // and every answer before this moment
  int failureHttpStatus = 500;
  std::string failureBody = R"({"code":500,"msg":"scripted failure"})";
  std::string failureRetryAfter;                 // "Retry-After" of failures; empty: none
};

// What the server does with one request on a scripted path.
struct ScriptedAnswer {
  std::chrono::milliseconds delay{0};
  bool failure = false;                // answer failureHttpStatus/failureBody
  int httpStatus = 200;                // for a non-failure answer
  std::optional<std::string> body;     // replacement body: the failure body, or the script's
  std::string retryAfter;              // "Retry-After" header; empty: none
  std::string contentType = "application/json;charset=utf-8";
};

class ScriptBook {
 public:
  void Set(const std::string& path, ReplyScript script);
  void Clear(const std::string& path);
  void ClearAll();
  // Decides the answer to one request on `path` and uses up one failure if any remain.
  ScriptedAnswer Take(const std::string& path);

 private:
  std::mutex mutex_;
  std::map<std::string, ReplyScript> scripts_;
};

}  // namespace zarnmock
