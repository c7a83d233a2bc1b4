// A stand-in for the network at the SDK's request seam: every request is recorded and waits
// until the test answers it (with a reply, a failure, a plea to slow down) or never does.
// Answers run the SDK's handler on the answering thread, with no lock of the fake's held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Sdk/GameCallback.h"
#include "Sdk/RequestPoster.h"

namespace zarntest {

// Every reply the fake gives is made here, whatever shape the SDK's reply texts take.
ZarnSdk::HttpResp MakeReply(int32_t code, const std::string& msg, const std::string& data, int32_t httpStatus = 200,
                            std::optional<std::chrono::seconds> retryAfter = std::nullopt);
// The server answered 200 with this envelope code and message, the whole body as data.
ZarnSdk::HttpResp ServerReply(const std::string& body, int32_t code = 200, const std::string& msg = "success");
// No reply came (connection refused, reset, timed out).
ZarnSdk::HttpResp NoReply();
// An HTTP failure status (5xx, 429, 404), with the wait the server asked for, if any.
ZarnSdk::HttpResp HttpFailure(int32_t httpStatus, std::optional<std::chrono::seconds> retryAfter = std::nullopt);

class FakePoster : public ZarnSdk::RequestPoster {
 public:
  // Runs on the posting thread before the request is recorded: what held when it was sent.
  explicit FakePoster(std::function<void(const ZarnSdk::OutgoingRequest&)> onPost = nullptr)
      : onPost_(std::move(onPost)) {}

  void Post(ZarnSdk::OutgoingRequest request, ZarnSdk::HttpCallback done) override;

  size_t Count();
  // Until at least `count` requests were posted; false on timeout.
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ZarnSdk::OutgoingRequest Request(size_t index);
  // The form parameters of a request's body, decoded.
  std::map<std::string, std::string> Params(size_t index);
  // Indexes of the requests to `url`, in posting order.
  std::vector<size_t> To(const std::string& url);
  // Answers the request; each is answered once (a second answer fails the test).
  void Answer(size_t index, ZarnSdk::HttpResp reply);

 private:
  struct Posted {
    ZarnSdk::OutgoingRequest request;
    ZarnSdk::HttpCallback done;
  };
  const std::function<void(const ZarnSdk::OutgoingRequest&)> onPost_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<Posted> requests_;
};

// What the game heard, captured through the C interface's callback shape (UTF-8 texts and the
// caller's user pointer).
struct GameReply {
  int32_t code = 0;
  std::string msg;
  std::string data;
};

class GameReplies {
 public:
  ZarnSdk::GameCallback Callback() { return ZarnSdk::GameCallback(&GameReplies::Record, this); }
  std::vector<GameReply> All();
  size_t Count();

 private:
  static void Record(int32_t code, const char* msg, const char* data, void* user);
  std::mutex mutex_;
  std::vector<GameReply> replies_;
};

}  // namespace zarntest
