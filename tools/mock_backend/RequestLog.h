// Everything the mock server received, in arrival order, for tests to inspect and wait on; and
// optionally one JSON line per answered request appended to a file.
//
// Thread-safe: one mutex guards the records and the file; the condition variable wakes the
// waiters of WaitFor whenever a request arrives. Server threads add records, test threads read
// copies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/mock_backend/FormBody.h"

namespace zarnmock {

struct RecordedRequest {
  uint64_t sequence = 0;       // 1 for the first request the server received, then 2, ...
  int64_t receivedMs = 0;      // arrival, milliseconds since 1970 (system clock)
  std::string method;
  std::string path;
  // As received (names keep their case); ordered by name case-insensitively, not by arrival.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;            // raw bytes
  FormParams params;           // decoded form parameters in body order (empty for analytics)
  std::string deviceId;        // an analytics event's "deviceId" and "eventOrder"; else empty
  std::string eventOrder;
  bool ok = false;             // the request passed verification
  std::string reason;          // why it did not; empty when ok
  std::string signatureText;   // what the mock signed (holds the app key); empty when not reached
  bool answered = false;       // false while the answer is being delayed or composed
  int replyStatus = 0;         // HTTP status answered
  std::string replyBody;       // raw answer bytes
  std::string note;            // side effects, e.g. the transaction file written or its failure

  // The first value of a header, compared case-insensitively; empty when absent.
  std::string Header(const std::string& name) const;
  // The decoded value of a form parameter; empty when absent.
  std::string Param(const std::string& name) const;
};

class RequestLog {
 public:
  // With a path, answered requests are appended there as JSON lines. Throws std::runtime_error
  // when the file cannot be opened.
  explicit RequestLog(const std::string& jsonLinesPath = {});

  // Stores an arriving request, sets its sequence number and wakes the waiters.
  void Arrived(RecordedRequest& request);
  // Replaces the stored copy with the answered request (if still stored) and writes its line.
  void Answered(const RecordedRequest& request);

  std::vector<RecordedRequest> All() const;
  std::vector<RecordedRequest> ForPath(const std::string& path) const;
  size_t Count(const std::string& path) const;
  // Waits until at least `count` requests on `path` have arrived; false when `timeout` passed.
  bool WaitFor(const std::string& path, size_t count, std::chrono::milliseconds timeout) const;
  // The same for requests whose answer has been composed (and side effects done).
  bool WaitForAnswered(const std::string& path, size_t count, std::chrono::milliseconds timeout) const;
  // Forgets the stored records (sequence numbers keep counting).
  void Clear();

 private:
  size_t CountLocked(const std::string& path, bool answeredOnly) const;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<RecordedRequest> records_;
  uint64_t lastSequence_ = 0;
  std::ofstream jsonLines_;
};

}  // namespace zarnmock
