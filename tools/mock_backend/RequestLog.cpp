#include "tools/mock_backend/RequestLog.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

namespace zarnmock {
namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x - 'A' + 'a' : x) == (y >= 'A' && y <= 'Z' ? y - 'A' + 'a' : y);
         });
}

nlohmann::json PairsToJson(const std::vector<std::pair<std::string, std::string>>& pairs) {
  nlohmann::json array = nlohmann::json::array();
  for (const auto& [name, value] : pairs) array.push_back({name, value});
  return array;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoringCase(key, name)) return value;
  }
  return {};
}

std::string RecordedRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return {};
}

RequestLog::RequestLog(const std::string& jsonLinesPath) {
  if (jsonLinesPath.empty()) return;
  jsonLines_.open(jsonLinesPath, std::ios::binary | std::ios::app);
  if (!jsonLines_) throw std::runtime_error("cannot open record file " + jsonLinesPath);
}

void RequestLog::Arrived(RecordedRequest& request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    request.sequence = ++lastSequence_;
    request.receivedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
    records_.push_back(request);
  }
  arrived_.notify_all();
}

void RequestLog::Answered(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Stored in arrival order, so by sequence number: a search, not a scan of a long run's records.
  auto stored = std::lower_bound(records_.begin(), records_.end(), request.sequence,
                                 [](const RecordedRequest& r, uint64_t sequence) { return r.sequence < sequence; });
  if (stored != records_.end() && stored->sequence == request.sequence) *stored = request;
  arrived_.notify_all();
  if (!jsonLines_.is_open()) return;
  nlohmann::ordered_json line = {
      {"sequence", request.sequence},    {"receivedMs", request.receivedMs},
      {"method", request.method},        {"path", request.path},
      {"headers", PairsToJson(request.headers)},
      {"body", request.body},            {"params", PairsToJson(request.params)},
      {"ok", request.ok},                {"reason", request.reason},
      {"replyStatus", request.replyStatus}, {"replyBody", request.replyBody},
      {"note", request.note}};
  if (!request.deviceId.empty()) line["deviceId"] = request.deviceId;
  if (!request.eventOrder.empty()) line["eventOrder"] = request.eventOrder;
  // Bodies are bytes from the network: invalid UTF-8 is replaced rather than refused.
  jsonLines_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  jsonLines_.flush();
}

std::vector<RecordedRequest> RequestLog::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

std::vector<RecordedRequest> RequestLog::ForPath(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RecordedRequest> matching;
  for (const auto& record : records_) {
    if (record.path == path) matching.push_back(record);
  }
  return matching;
}

size_t RequestLog::CountLocked(const std::string& path, bool answeredOnly) const {
  return static_cast<size_t>(std::count_if(records_.begin(), records_.end(), [&](const RecordedRequest& r) {
    return r.path == path && (r.answered || !answeredOnly);
  }));
}

size_t RequestLog::Count(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CountLocked(path, false);
}

bool RequestLog::WaitFor(const std::string& path, size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return CountLocked(path, false) >= count; });
}

bool RequestLog::WaitForAnswered(const std::string& path, size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return CountLocked(path, true) >= count; });
}

void RequestLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

}  // namespace zarnmock
