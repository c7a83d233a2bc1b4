#include "FakePoster.h"

#include <gtest/gtest.h>

#include <utility>

namespace zarntest {

ZarnSdk::HttpResp MakeReply(int32_t code, const std::string& msg, const std::string& data, int32_t httpStatus,
                            std::optional<std::chrono::seconds> retryAfter) {
  ZarnSdk::HttpResp reply;
  reply.code = code;
  reply.msg = msg;
  reply.data = data;
  reply.httpStatus = httpStatus;
  reply.retryAfter = retryAfter;
  return reply;
}

ZarnSdk::HttpResp ServerReply(const std::string& body, int32_t code, const std::string& msg) {
  return MakeReply(code, msg, body);
}

ZarnSdk::HttpResp NoReply() { return MakeReply(-502, "Http Code:, Msg:connection failed", "", 0); }

ZarnSdk::HttpResp HttpFailure(int32_t httpStatus, std::optional<std::chrono::seconds> retryAfter) {
  return MakeReply(-502, "Http Code:" + std::to_string(httpStatus) + ", Msg:", "", httpStatus, retryAfter);
}

void FakePoster::Post(ZarnSdk::OutgoingRequest request, ZarnSdk::HttpCallback done) {
  if (onPost_) onPost_(request);
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(Posted{std::move(request), std::move(done)});
  posted_.notify_all();
}

size_t FakePoster::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

bool FakePoster::WaitFor(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return posted_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

ZarnSdk::OutgoingRequest FakePoster::Request(size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.at(index).request;
}

std::map<std::string, std::string> FakePoster::Params(size_t index) {
  const std::string body = Request(index).body;
  std::map<std::string, std::string> params;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    const size_t eq = pair.find('=');
    std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    std::string decoded;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '%' && i + 2 < value.size()) {
        decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        decoded += value[i];
      }
    }
    params[pair.substr(0, eq)] = decoded;
    start = end + 1;
  }
  return params;
}

std::vector<size_t> FakePoster::To(const std::string& url) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<size_t> found;
  for (size_t i = 0; i < requests_.size(); ++i) {
    if (requests_[i].request.url == url) found.push_back(i);
  }
  return found;
}

void FakePoster::Answer(size_t index, ZarnSdk::HttpResp reply) {
  ZarnSdk::HttpCallback done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done = std::exchange(requests_.at(index).done, nullptr);
  }
  ASSERT_TRUE(done) << "request " << index << " answered twice";
  done(std::move(reply));
}

void GameReplies::Record(int32_t code, const char* msg, const char* data, void* user) {
  auto* self = static_cast<GameReplies*>(user);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->replies_.push_back(GameReply{code, msg, data});
}

std::vector<GameReply> GameReplies::All() {
  std::lock_guard<std::mutex> lock(mutex_);
  return replies_;
}

size_t GameReplies::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return replies_.size();
}

}  // namespace zarntest
