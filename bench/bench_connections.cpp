// Analytics delivery through the worker pool to a loopback TLS server in a child process, so
// that the CPU figures are the SDK side's alone: events posted one after another (each waits
// for the previous reply), and a burst queued at once as a game's busy frame does.
//
// Counters: cpu_us_per_event is the CPU time of this whole process (every thread, user and
// system) per event; events_per_s is events over wall time; connections_per_1000 is how many
// connections the server accepted per 1000 events. The server sets TCP_NODELAY and keeps
// connections alive, as the publisher's servers do, so the figures are the client's own.
//
// POSIX only (fork, shared memory), like the other benchmark programs.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "CertGen.h"
#include "transport/WorkerPool.h"

namespace {

using Clock = std::chrono::steady_clock;

// An analytics event as the SDK posts it: a JSON envelope of about half a kilobyte.
const std::string kEvent =
    R"({"appId":"1001","deviceId":"6f1c2a9e-3b7d-4e21-9a55-0c8e2d7f4b13","eventName":"boss_defeated",)"
    R"("eventOrder":4711,"sdkTime":1700000000000,"sdkVersion":"2.0.0","platform":"steam","steamId":)"
    R"("76561198000000000","userId":"1234567","params":{"level":12,"class":"mage","nickname":"Ann",)"
    R"("registerTime":1700000000000,"value":3.5},"osVersion":"Linux 6.1","language":"en","country":)"
    R"("GB","screen":"2560x1440","cpu":"x86_64","memory":"32768","attribution":false,"testDevice":0})";

struct Shared {
  std::atomic<long> accepted{0};
};
Shared* shared = nullptr;  // in memory shared with the server process
std::string url;

// Hands every accepted connection to httplib's pool, counting it first.
class CountingQueue : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override {
    shared->accepted.fetch_add(1);
    pool_.enqueue(std::move(task));
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_{8};
};

[[noreturn]] void RunServer(const std::filesystem::path& folder, int portPipe) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  httplib::SSLServer server((folder / "cert.pem").c_str(), (folder / "key.pem").c_str());
  server.new_task_queue = [] { return new CountingQueue; };
  server.set_tcp_nodelay(true);  // on the listener; Linux hands it on to every accepted socket
  server.set_keep_alive_max_count(1000000);
  server.set_keep_alive_timeout(60);
  server.Post("/v1/track", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"({"code":200,"msg":"ok"})", "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (write(portPipe, &port, sizeof port) != static_cast<ssize_t>(sizeof port)) _exit(1);
  close(portPipe);
  server.listen_after_bind();
  _exit(0);
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Counts completions and lets the caller wait for a number of them.
class Delivered {
 public:
  std::function<void(sion::AsyncResponse)> Completion() {
    return [this](sion::AsyncResponse reply) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!reply.err.empty() || reply.resp.statusCode != "200") ++failed_;
      ++count_;
      changed_.notify_all();
    };
  }
  void WaitFor(long count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return count_ >= count; });
  }
  long Failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  long count_ = 0;
  long failed_ = 0;
};

std::function<sion::Request()> Event() {
  return [] {
    sion::Header header;
    header.Add("Content-Type", "text/plain;charset=UTF-8");
    sion::Request request;
    request.SetUrl(url).SetBody(kEvent).SetHeader(header).SetMethod(sion::Method::Post);
    return request;
  };
}

// Arg: events queued at once (1: each waits for the previous one's reply).
void BM_DeliverEvents(benchmark::State& state) {
  const long batch = state.range(0);
  sion::WorkerPool pool;
  pool.Start();
  Delivered delivered;
  long events = 0;
  const long acceptedBefore = shared->accepted.load();
  const double cpuBefore = ProcessCpuSeconds();
  const auto start = Clock::now();
  for (auto _ : state) {
    for (long i = 0; i < batch; ++i) pool.Submit(Event(), delivered.Completion(), sion::Lane::Background);
    events += batch;
    delivered.WaitFor(events);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  pool.Stop();
  if (delivered.Failed() != 0) state.SkipWithError("some events failed");
  state.counters["cpu_us_per_event"] = cpu * 1e6 / static_cast<double>(events);
  state.counters["events_per_s"] = static_cast<double>(events) / wall;
  state.counters["connections_per_1000"] =
      static_cast<double>(shared->accepted.load() - acceptedBefore) * 1000.0 / static_cast<double>(events);
  state.SetItemsProcessed(events);
}
BENCHMARK(BM_DeliverEvents)->ArgName("batch")->Arg(1)->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeliverEvents)->ArgName("batch")->Arg(1000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  char folderName[] = "/tmp/zarn-bench-connections-XXXXXX";
  if (mkdtemp(folderName) == nullptr) {
    std::perror("bench_connections: temporary folder");
    return 1;
  }
  const std::filesystem::path folder = folderName;
  const auto authority = zarncert::MakeAuthority("Zarn Bench Root");
  const auto identity = zarncert::MakeServerCert(authority, {"localhost"}, {"127.0.0.1"});
  zarncert::WritePem((folder / "ca.pem").string(), authority.certPem);
  zarncert::WritePem((folder / "cert.pem").string(), identity.certPem);
  zarncert::WritePem((folder / "key.pem").string(), identity.keyPem);
  setenv("SSL_CERT_FILE", (folder / "ca.pem").c_str(), 1);

  void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return 1;
  shared = new (memory) Shared;
  int portPipe[2];
  if (pipe(portPipe) != 0) return 1;
  // Forked before this process starts any thread.
  const pid_t server = fork();
  if (server < 0) return 1;
  if (server == 0) {
    close(portPipe[0]);
    RunServer(folder, portPipe[1]);
  }
  close(portPipe[1]);
  int port = 0;
  if (read(portPipe[0], &port, sizeof port) != static_cast<ssize_t>(sizeof port) || port <= 0) {
    std::fputs("bench_connections: the server did not start\n", stderr);
    return 1;
  }
  close(portPipe[0]);
  url = "https://127.0.0.1:" + std::to_string(port) + "/v1/track";

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
