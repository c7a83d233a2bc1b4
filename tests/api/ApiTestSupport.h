// Helpers shared by the API client's tests: a recorder for HttpCallback replies, a test-side
// MD5 and a fixed set of global parameters.
#pragma once

#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Sdk/CZarnCore.h"
#include "Sdk/HttpResp.h"

namespace zarntest {

struct CaughtReply {
  ZarnSdk::HttpResp resp;
  std::thread::id thread;
};

// Collects the replies handed to the callbacks it makes. The callbacks share the recorder's
// state, so they stay valid even if a reply arrives after the recorder is gone.
class ReplyCatcher {
 public:
  ZarnSdk::HttpCallback Callback() {
    return [state = state_](ZarnSdk::HttpResp resp) {
      {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->replies.push_back({std::move(resp), std::this_thread::get_id()});
      }
      state->cv.notify_all();
    };
  }
  bool WaitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->cv.wait_for(lock, timeout, [&] { return state_->replies.size() >= count; });
  }
  std::vector<CaughtReply> Replies() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->replies;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<CaughtReply> replies;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// MD5 as 32 lower-case hex digits, computed here without the SDK's helper.
inline std::string TestMd5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  size_t length = 0;
  if (EVP_Q_digest(nullptr, "MD5", nullptr, text.data(), text.size(), digest, &length) != 1) return "md5-failed";
  std::string out;
  char hex[3];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
    out += hex;
  }
  return out;
}

inline ZarnSdk::GlobalParams FixedGlobalParams() {
  ZarnSdk::GlobalParams g;
  g.appId = "1001";
  g.appKey = "k3y";
  g.os = "Windows";
  g.sdkVer = "SteamEXE_2.0.0";
  g.sdkType = "html5";
  g.clientId = "c0ffee";
  g.runPlatform = "html5";
  g.gamePlatform = "steam";
  g.steamAppId = "480";
  return g;
}

}  // namespace zarntest
