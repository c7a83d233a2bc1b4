// Cost of posting one analytics event on the game's thread (the envelope, its number, the checks
// and queueing it), alone and from eight threads at once, and of Exit with a burst still
// queued. The state files live on a real disk (a fresh folder under /tmp); the SDK really sends
// every event to the mock backend on loopback meanwhile, as it would in a game.
//
// Besides Google Benchmark's mean, each run reports the median and 99th percentile of single
// calls (p50_us, p99_us, max_us), since a game cares about its worst frames.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Sdk/SdkInstance.h"
#include "Sdk/ZarnLog.h"
#include "steam/steam_sim.h"
#include "tools/mock_backend/MockBackend.h"

namespace {

using Clock = std::chrono::steady_clock;

ZarnSdk::SdkInstance* sdk = nullptr;

// With several threads each reports its own figures and the report shows their mean.
void ReportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  const auto at = [&micros](double q) {
    const auto index = static_cast<size_t>(std::ceil(q * static_cast<double>(micros.size()))) - 1;
    return micros[std::min(index, micros.size() - 1)];
  };
  state.counters["p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
  state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
  state.counters["max_us"] = benchmark::Counter(micros.back(), benchmark::Counter::kAvgThreads);
}

ZarnSdk::SdkOptions Options(const std::string& origin, const std::string& folder) {
  ZarnSdk::SdkOptions options;
  options.apiOrigin = origin;
  options.localDataFolder = folder + "/data";
  return options;
}

std::string origin, folder;

// Args: logging on (1) or off (0, as for every player that is not a test device); parameters
// (1: a standard event with rules and three parameters, 0: a custom event without any).
void BM_PostEvent(benchmark::State& state) {
  const bool logging = state.range(0) != 0;
  const bool withParams = state.range(1) != 0;
  ZarnSdk::ConfigureLogger(logging);
  const std::string name = withParams ? "qzk_user_create" : "boss_defeated";
  const std::string params =
      withParams ? R"({"nickname":"Ann","registerTime":1700000000000,"class":"mage"})" : std::string();
  const double value = withParams ? std::numeric_limits<double>::quiet_NaN() : 3.5;

  std::vector<double> micros;
  micros.reserve(1 << 16);
  for (auto _ : state) {
    const auto start = Clock::now();
    sdk->Track().PostEvent(name, params, value);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ZarnSdk::ConfigureLogger(false);
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_PostEvent)->ArgNames({"log", "params"})->Args({0, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);
// Eight game threads posting at once.
BENCHMARK(BM_PostEvent)->ArgNames({"log", "params"})->Args({0, 1})->Threads(8)->Unit(benchmark::kMicrosecond);

// Exit right after 8 threads posted 250 events each, most of them still queued.
void BM_ExitWith2000Queued(benchmark::State& state) {
  ZarnSdk::ConfigureLogger(false);
  for (auto _ : state) {
    state.PauseTiming();
    // A fresh profile each time: an outbox left by an earlier run would be written again too.
    static int run = 0;
    auto game = std::make_unique<ZarnSdk::SdkInstance>(Options(origin, folder + "/exit-" + std::to_string(++run)));
    game->Core().InitSdk("1001", "zarn-demo-key", nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&game] {
        for (int i = 0; i < 250; ++i) game->Track().PostEvent("burst", "", 1.0);
      });
    }
    for (std::thread& thread : threads) thread.join();
    state.ResumeTiming();
    game->Core().Exit();
    state.PauseTiming();
    game.reset();  // not part of Exit
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ExitWith2000Queued)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// The counter alone.
void BM_GetEventOrder(benchmark::State& state) {
  ZarnSdk::ConfigureLogger(false);
  std::vector<double> micros;
  micros.reserve(1 << 16);
  for (auto _ : state) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(sdk->Track().GetEventOrder());
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ReportPercentiles(state, micros);
}
BENCHMARK(BM_GetEventOrder)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  char folder[] = "/tmp/zarn-bench-track-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) {
    std::perror("bench_track: temporary folder");
    return 1;
  }

  zarnmock::MockOptions options;
  options.plainHttp = true;
  auto mock = std::make_unique<zarnmock::MockBackend>(options);
  mock->Start();

  // The stand-in Steam client (app 480) and a whole start-up: the tracker is ready when InitSdk
  // returns, whatever the start-up reply.
  SteamSim_Reset();
  SteamSim_SetClientRunning(true);
  SteamSim_SetAppId(480);
  origin = mock->Origin();
  ::folder = folder;
  auto instance = std::make_unique<ZarnSdk::SdkInstance>(Options(origin, ::folder));
  sdk = instance.get();
  sdk->Core().InitSdk("1001", "zarn-demo-key", nullptr);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  instance.reset();
  mock->Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
