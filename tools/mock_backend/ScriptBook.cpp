#include "tools/mock_backend/ScriptBook.h"

namespace zarnmock {

void ScriptBook::Set(const std::string& path, ReplyScript script) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_[path] = std::move(script);
}

void ScriptBook::Clear(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.erase(path);
}

void ScriptBook::ClearAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.clear();
}

ScriptedAnswer ScriptBook::Take(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  ScriptedAnswer answer;
  auto it = scripts_.find(path);
  if (it == scripts_.end()) return answer;
  ReplyScript& script = it->second;
  answer.delay = script.delay;
  answer.contentType = script.contentType;
  const bool inOutage = std::chrono::steady_clock::now() < script.failUntil;
  if (inOutage || script.failuresBeforeSuccess > 0) {
    if (!inOutage) --script.failuresBeforeSuccess;
    answer.failure = true;
    answer.retryAfter = script.failureRetryAfter;
    answer.httpStatus = script.failureHttpStatus;
    answer.body = script.failureBody;
    return answer;
  }
  answer.httpStatus = script.httpStatus;
  answer.body = script.body;
  return answer;
}

}  // namespace zarnmock
