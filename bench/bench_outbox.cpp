// What analytics delivery costs the game and the machine, each figure beside a yardstick
// measured the same way in the same run:
//  - PostEvent's wall time per call (p50, p99, p99.9, max over every call of every thread) from
//    1, 8 and 32 game threads at once, while the SDK sends; beside pushing the same document
//    onto a minimal mutex-and-deque queue that one thread drains.
//  - Delivery end to end (from the first PostEvent until the server has answered every event):
//    the process's CPU time and context switches per event (getrusage); beside libcurl posting
//    the same document to the same server over one kept-alive connection. Plain HTTP and TLS.
//  - Exit's wall time with nothing pending, and with 1 000 and 10 000 events kept because the
//    server fails (Exit a few seconds after posting them, once the outbox has been written).
// The mock backend runs as its own process (its work is not counted here); the state files are
// on a real disk under /tmp.
//
// Run from a build folder, on a machine as quiet as you can get:
//   bench/bench_outbox [--events=K] [--post_rate=R] [Google Benchmark flags]
//     --events=K     events per delivery measurement (default 5000)
//     --post_rate=R  post them at R per second, the libcurl row too (default 0: all at once);
//                    for an SDK that paces its sending, choose a rate it keeps up with
// For before and after figures, run this program of each build one right after the other: the
// yardstick rows tell how comparable the two runs were. Without libcurl (libcurl4-openssl-dev)
// at configure time the libcurl rows are left out.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#ifdef ZARN_BENCH_WITH_CURL
#include <curl/curl.h>
#endif

#include "Sdk/SdkInstance.h"
#include "bench/support/MockProcess.h"
#include "steam/steam_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kAnalyticsLine[] = R"("path":"/data/h5/v1.do")";
const std::string kEventName = "boss_defeated";
const std::string kEventParams = R"({"boss":"hydra","seconds":125,"stage":3})";
constexpr double kEventValue = 1.5;

std::string folder;
size_t deliveryEvents = 5000;
double postRate = 0;  // events per second; 0: all at once
std::string document;  // what the SDK sends for the event above, for the yardsticks

// A mock backend and the analytics requests it has answered so far.
struct MockTap {
  std::unique_ptr<zarnbench::MockProcess> mock;
  std::unique_ptr<zarnbench::LineTail> tail;
  size_t answered = 0;

  size_t Update() {
    for (const std::string& line : tail->NewLines()) answered += line.find(kAnalyticsLine) != std::string::npos;
    return answered;
  }
  // Polls rarely: the wait is inside some measurements.
  bool WaitFor(size_t count, std::chrono::seconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Update() < count) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
};
std::unique_ptr<MockTap> plainMock, tlsMock, failingMock;

std::mutex initMutex;
std::condition_variable initAnswered;
std::optional<int> initCode;
void OnInit(int code, const char*, const char*, void*) {
  {
    std::lock_guard<std::mutex> lock(initMutex);
    initCode = code;
  }
  initAnswered.notify_all();
}

// A started SDK on a fresh state folder whose start-up event the server has answered.
std::unique_ptr<ZarnSdk::SdkInstance> StartSdk(MockTap& tap) {
  static int run = 0;
  ZarnSdk::SdkOptions options;
  options.apiOrigin = tap.mock->Origin();
  options.localDataFolder = folder + "/sdk-" + std::to_string(++run);
  // The cost of an event, not the pace a backlog drains at (10 a second would make each
  // measurement last minutes).
  options.eventDelivery.pacing.perSecond = 0;
  auto sdk = std::make_unique<ZarnSdk::SdkInstance>(std::move(options));
  const size_t before = tap.Update();
  {
    std::lock_guard<std::mutex> lock(initMutex);
    initCode.reset();
  }
  sdk->Core().InitSdk("1001", "zarn-demo-key", OnInit);
  std::unique_lock<std::mutex> lock(initMutex);
  if (!initAnswered.wait_for(lock, 20s, [] { return initCode.has_value(); }) || *initCode != 200) {
    throw std::runtime_error("the SDK did not start");
  }
  lock.unlock();
  if (!tap.WaitFor(before + 1, 20s)) throw std::runtime_error("the start-up event never reached the server");
  return sdk;
}

void PostOne(ZarnSdk::SdkInstance& sdk) { sdk.Track().PostEvent(kEventName, kEventParams, kEventValue); }

// Sleeps until the k-th post is due at the chosen rate.
void Pace(size_t k, Clock::time_point start) {
  if (postRate > 0) std::this_thread::sleep_until(start + std::chrono::duration<double>(static_cast<double>(k) / postRate));
}

// ---------------------------------------------------------------- PostEvent per call

// The yardstick: handing a document to another thread at the least possible cost.
class MinimalQueue {
 public:
  MinimalQueue() : consumer_([this] { Drain(); }) {}
  ~MinimalQueue() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    consumer_.join();
  }
  void Push(std::string item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back(std::move(item));
    }
    wake_.notify_one();
  }

 private:
  void Drain() {
    std::deque<std::string> taken;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !items_.empty(); });
      if (items_.empty()) return;
      taken.swap(items_);
      lock.unlock();
      taken.clear();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> items_;
  bool stop_ = false;
  std::thread consumer_;
};

// About 10 000 calls in all, whatever the number of threads.
constexpr int64_t kCallsPerRun = 10000;
std::unique_ptr<ZarnSdk::SdkInstance> sdk;
std::unique_ptr<MinimalQueue> queue;
std::vector<std::vector<double>> callMicros;  // one per thread, each written by its thread only

void ReportPercentiles(benchmark::State& state) {
  std::vector<double> all;
  for (const std::vector<double>& mine : callMicros) all.insert(all.end(), mine.begin(), mine.end());
  if (all.empty()) return;
  std::sort(all.begin(), all.end());
  const auto at = [&all](double q) {
    const auto index = static_cast<size_t>(std::ceil(q * static_cast<double>(all.size()))) - 1;
    return all[std::min(index, all.size() - 1)];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["p999_us"] = at(0.999);
  state.counters["max_us"] = all.back();
}

template <class Call>
void TimeEachCall(benchmark::State& state, Call call) {
  std::vector<double>& mine = callMicros[static_cast<size_t>(state.thread_index())];
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    call();
    mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  // Every thread's loop has ended here (the loop's end is a barrier): their samples are final.
  if (state.thread_index() == 0) ReportPercentiles(state);
}

void PrepareSamples(const benchmark::State& state) {
  callMicros.assign(static_cast<size_t>(state.threads()), {});
  for (auto& mine : callMicros) mine.reserve(static_cast<size_t>(kCallsPerRun));
}
void StartSdkRun(const benchmark::State& state) {
  PrepareSamples(state);
  sdk = StartSdk(*plainMock);
}
void EndSdkRun(const benchmark::State&) { sdk.reset(); }  // Exit with the backlog: not measured
void StartQueueRun(const benchmark::State& state) {
  PrepareSamples(state);
  queue = std::make_unique<MinimalQueue>();
}
void EndQueueRun(const benchmark::State&) { queue.reset(); }

void BM_PostEvent(benchmark::State& state) {
  TimeEachCall(state, [] { PostOne(*sdk); });
}
void BM_MutexDequeQueue(benchmark::State& state) {
  TimeEachCall(state, [] { queue->Push(document); });
}

void PerCallBenchmarks() {
  for (const int threads : {1, 8, 32}) {
    benchmark::RegisterBenchmark("BM_PostEvent", BM_PostEvent)
        ->Setup(StartSdkRun)->Teardown(EndSdkRun)->Threads(threads)->Iterations(kCallsPerRun / threads)
        ->Repetitions(3)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_MutexDequeQueue", BM_MutexDequeQueue)
        ->Setup(StartQueueRun)->Teardown(EndQueueRun)->Threads(threads)->Iterations(kCallsPerRun / threads)
        ->Repetitions(3)->Unit(benchmark::kMicrosecond);
  }
}

// ---------------------------------------------------------------- delivery per event

struct Usage {
  double cpuMicros = 0;
  long switches = 0;  // voluntary and involuntary context switches
  static Usage Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
    return {micros(usage.ru_utime) + micros(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
  }
};

void ReportDelivery(benchmark::State& state, const Usage& start, const Usage& end, Clock::duration wall) {
  const double events = static_cast<double>(deliveryEvents);
  state.SetIterationTime(std::chrono::duration<double>(wall).count());
  state.counters["cpu_us_per_event"] = (end.cpuMicros - start.cpuMicros) / events;
  state.counters["switches_per_event"] = static_cast<double>(end.switches - start.switches) / events;
  state.counters["events_per_s"] = events / std::chrono::duration<double>(wall).count();
}

// Arg: TLS (1) or plain HTTP (0).
void BM_DeliverySdk(benchmark::State& state) {
  MockTap& tap = state.range(0) != 0 ? *tlsMock : *plainMock;
  for (auto _ : state) {
    auto game = StartSdk(tap);
    const size_t before = tap.Update();
    const Usage start = Usage::Now();
    const Clock::time_point began = Clock::now();
    for (size_t k = 0; k < deliveryEvents; ++k) {
      Pace(k, began);
      PostOne(*game);
    }
    const auto limit = std::chrono::seconds(120 + (postRate > 0 ? static_cast<int64_t>(deliveryEvents / postRate) : 0));
    if (!tap.WaitFor(before + deliveryEvents, limit)) {
      state.SkipWithError("events lost: not every event reached the server within 2 minutes of the last post");
      break;
    }
    ReportDelivery(state, start, Usage::Now(), Clock::now() - began);
    game.reset();
  }
}

#ifdef ZARN_BENCH_WITH_CURL
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_DeliveryLibcurl(benchmark::State& state) {
  MockTap& tap = state.range(0) != 0 ? *tlsMock : *plainMock;
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/plain;charset=UTF-8");
  const std::string url = tap.mock->Origin() + "/data/h5/v1.do";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, document.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(document.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  if (!tap.mock->CaFile().empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, tap.mock->CaFile().c_str());
  for (auto _ : state) {
    const Usage start = Usage::Now();
    const Clock::time_point began = Clock::now();
    size_t failed = 0;
    for (size_t k = 0; k < deliveryEvents; ++k) {
      Pace(k, began);
      long status = 0;
      if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
          status != 200) {
        ++failed;
      }
    }
    ReportDelivery(state, start, Usage::Now(), Clock::now() - began);
    if (failed != 0) state.SkipWithError("libcurl: some posts failed");
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
}
#endif

void DeliveryBenchmarks() {
  for (const int tls : {0, 1}) {
    benchmark::RegisterBenchmark("BM_DeliverySdk", BM_DeliverySdk)
        ->ArgName("tls")->Arg(tls)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
#ifdef ZARN_BENCH_WITH_CURL
    benchmark::RegisterBenchmark("BM_DeliveryLibcurl", BM_DeliveryLibcurl)
        ->ArgName("tls")->Arg(tls)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif
  }
}

// ---------------------------------------------------------------- Exit

// Arg: events kept. None: the server has answered the start-up event, then 1.5 s of quiet (the
// periodic outbox write is behind us). Kept: posted while every event fails, Exit 3 s later.
void BM_Exit(benchmark::State& state) {
  const auto kept = static_cast<size_t>(state.range(0));
  MockTap& tap = kept == 0 ? *plainMock : *failingMock;
  for (auto _ : state) {
    auto game = StartSdk(tap);
    for (size_t k = 0; k < kept; ++k) PostOne(*game);
    std::this_thread::sleep_for(kept == 0 ? 1500ms : 3000ms);
    const Clock::time_point start = Clock::now();
    game->Core().Exit();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    game.reset();  // the threads' end is not Exit's
  }
}

void ExitBenchmarks() {
  for (const int kept : {0, 1000, 10000}) {
    benchmark::RegisterBenchmark("BM_Exit", BM_Exit)
        ->ArgName("kept")->Arg(kept)->Iterations(1)->Repetitions(5)->UseManualTime()->Unit(benchmark::kMillisecond);
  }
}

// ---------------------------------------------------------------- set-up

std::unique_ptr<MockTap> StartMock(const std::string& name, bool tls, const std::vector<std::string>& args = {}) {
  auto tap = std::make_unique<MockTap>();
  tap->mock = std::make_unique<zarnbench::MockProcess>(ZARN_MOCK_BACKEND_EXE, folder + "/" + name, tls, args);
  tap->tail = std::make_unique<zarnbench::LineTail>(tap->mock->RecordFile());
  return tap;
}

// The document the SDK sends for the benchmark's event, as the server received it.
std::string CaptureDocument() {
  {
    auto game = StartSdk(*plainMock);
    PostOne(*game);
    if (!plainMock->WaitFor(plainMock->answered + 1, 20s)) throw std::runtime_error("no event reached the server");
  }
  std::string last;
  zarnbench::LineTail all(plainMock->mock->RecordFile());
  for (const std::string& line : all.NewLines()) {
    if (line.find(kAnalyticsLine) != std::string::npos) last = line;
  }
  return nlohmann::json::parse(last).at("body").get<std::string>();
}

// Takes --events=K and --post_rate=R out of the arguments.
void TakeOwnFlags(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--events=", 0) == 0) {
      deliveryEvents = std::stoul(arg.substr(9));
    } else if (arg.rfind("--post_rate=", 0) == 0) {
      postRate = std::stod(arg.substr(12));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
}

}  // namespace

int main(int argc, char** argv) {
  char temporary[] = "/tmp/zarn-bench-outbox-XXXXXX";
  if (mkdtemp(temporary) == nullptr || chdir(temporary) != 0) {
    std::perror("bench_outbox: temporary folder");
    return 1;
  }
  folder = temporary;
  int status = 0;
  try {
    TakeOwnFlags(argc, argv);
    plainMock = StartMock("mock-plain", false);
    tlsMock = StartMock("mock-tls", true);
    failingMock = StartMock("mock-failing", false, {"--events-outage", "86400"});
    failingMock->mock->StartEventsOutage();
    // Read when the SDK makes its TLS context, after this.
    setenv("SSL_CERT_FILE", tlsMock->mock->CaFile().c_str(), 1);

    // The stand-in Steam client (app 480).
    SteamSim_Reset();
    SteamSim_SetClientRunning(true);
    SteamSim_SetAppId(480);
    document = CaptureDocument();

    PerCallBenchmarks();
    DeliveryBenchmarks();
    ExitBenchmarks();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_outbox: %s\n", error.what());
    status = 1;
  }
  sdk.reset();
  plainMock.reset();
  tlsMock.reset();
  failingMock.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return status;
}
