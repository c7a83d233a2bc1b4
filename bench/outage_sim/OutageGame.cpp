// zarn-outage-game CLIENT EVENTS: one player's game in the outage simulation (zarn-outage-sim).
//
// It reaches the SDK through the C interface (zarnsdk.h) alone, so this one program runs against
// any build of the shared library: the simulation points LD_LIBRARY_PATH at the build to measure.
// Its state folder (ZARN_SDK_DATA_HOME), server (ZARN_SDK_API_ORIGIN) and Steam stand-in come
// from the environment. Steered by lines on its standard input; answers on its standard output:
//   at start      Init, then "ready <Init's code>" (or "ready timeout" after 60 s)
//   "post"        posts EVENTS events named "outage_sim" with the parameters
//                 {"simClient":CLIENT,"simSeq":k}, k = 1..EVENTS, then "posted"
//   "exit", or the end of its input
//                 Exit, then "exited", and ends with status 0
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "zarnsdk.h"

namespace {

struct InitAnswer {
  std::mutex mutex;
  std::condition_variable answered;
  std::optional<int> code;
};

void OnInit(int32_t code, const char*, const char*, void* user) {
  auto* answer = static_cast<InitAnswer*>(user);
  {
    std::lock_guard<std::mutex> lock(answer->mutex);
    answer->code = code;
  }
  answer->answered.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: zarn-outage-game CLIENT EVENTS\n";
    return 2;
  }
  const std::string client = argv[1];
  const long events = std::strtol(argv[2], nullptr, 10);

  // Never freed: an answer arriving while the program ends still finds it.
  auto* answer = new InitAnswer;
  const std::string appId = "1001", appKey = "zarn-demo-key";
  zarn_init(appId.data(), appId.size(), appKey.data(), appKey.size(), OnInit, answer);
  {
    std::unique_lock<std::mutex> lock(answer->mutex);
    answer->answered.wait_for(lock, std::chrono::seconds(60), [answer] { return answer->code.has_value(); });
    std::cout << "ready " << (answer->code ? std::to_string(*answer->code) : "timeout") << std::endl;
  }

  const std::string name = "outage_sim";
  for (std::string line; std::getline(std::cin, line) && line != "exit";) {
    if (line != "post") continue;
    for (long k = 1; k <= events; ++k) {
      const std::string params = "{\"simClient\":" + client + ",\"simSeq\":" + std::to_string(k) + "}";
      zarn_post_event(name.data(), name.size(), params.data(), params.size(), std::numeric_limits<double>::quiet_NaN());
    }
    std::cout << "posted" << std::endl;
  }
  zarn_exit();
  std::cout << "exited" << std::endl;
  return 0;
}
