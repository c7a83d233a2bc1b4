// Transport figures: parsing a large chunked reply, and whole requests over loopback (TLS, and
// plain for comparison), each on a fresh connection: the thread has no connection pool, as
// the SDK's workers have (bench_connections measures those).
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "CertGen.h"
#include "transport/Request.h"
#include "transport/Response.h"

namespace {

constexpr std::size_t kReplyBytes = 1024 * 1024;
constexpr std::size_t kChunkBytes = 8 * 1024;
constexpr std::size_t kReadBytes = 16 * 1024;

std::string ChunkedReply() {
  std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::mt19937 random(7);
  for (std::size_t sent = 0; sent < kReplyBytes; sent += kChunkBytes) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", kChunkBytes);
    reply += size;
    for (std::size_t i = 0; i < kChunkBytes; ++i) reply += static_cast<char>('a' + random() % 26);
    reply += "\r\n";
  }
  return reply + "0\r\n\r\n";
}

// Fed as the connection feeds it: reads of one TLS record each.
void BM_ParseChunkedReply1MiB(benchmark::State& state) {
  const std::string reply = ChunkedReply();
  for (auto _ : state) {
    sion::Response response;
    std::size_t at = 0;
    bool headDone = false;
    bool complete = false;
    while (!complete && at < reply.size()) {
      const std::size_t take = std::min(kReadBytes, reply.size() - at);
      auto& target = headDone ? response.body : response.source;
      target.insert(target.end(), reply.data() + at, reply.data() + at + take);
      at += take;
      if (!headDone) {
        if (!response.IsHeaderComplete()) continue;
        response.ParseHeader();
        headDone = true;
      }
      complete = response.IsBodyComplete();
    }
    response.DecodeChunked();
    if (!complete || response.body.size() != kReplyBytes) state.SkipWithError("reply not parsed");
    benchmark::DoNotOptimize(response.body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ParseChunkedReply1MiB)->Unit(benchmark::kMillisecond);

// A loopback HTTPS (or HTTP) server answering a small JSON document, trusted through
// SSL_CERT_FILE, which must be set before the transport's first TLS request.
class LoopbackServer {
 public:
  explicit LoopbackServer(bool tls) {
    if (tls) {
      folder_ = std::filesystem::temp_directory_path() / ("zarn-bench-" + std::to_string(std::random_device{}()));
      std::filesystem::create_directories(folder_);
      const auto authority = zarncert::MakeAuthority("Zarn Bench Root");
      const auto identity = zarncert::MakeServerCert(authority, {"localhost"}, {"127.0.0.1"});
      zarncert::WritePem((folder_ / "ca.pem").string(), authority.certPem);
      zarncert::WritePem((folder_ / "cert.pem").string(), identity.certPem);
      zarncert::WritePem((folder_ / "key.pem").string(), identity.keyPem);
      setenv("SSL_CERT_FILE", (folder_ / "ca.pem").string().c_str(), 1);
      server_ = std::make_unique<httplib::SSLServer>((folder_ / "cert.pem").string().c_str(),
                                                     (folder_ / "key.pem").string().c_str());
    } else {
      server_ = std::make_unique<httplib::Server>();
    }
    server_->Post("/v1/ping", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"({"code":200,"msg":"ok","data":{}})", "application/json");
    });
    // The socket listens once bound: requests queue up until the accept loop runs.
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  ~LoopbackServer() {
    server_->stop();
    thread_.join();
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }
  std::string Url(bool tls) const {
    return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/v1/ping";
  }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

void SequentialRequests(benchmark::State& state, bool tls) {
  LoopbackServer server(tls);
  const std::string url = server.Url(tls);
  for (auto _ : state) {
    sion::Request request;
    request.SetUrl(url).SetMethod(sion::Method::Post).SetBody("appId=1&sign=0123456789abcdef");
    try {
      if (request.Send(request.url).statusCode != "200") state.SkipWithError("unexpected status");
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SequentialTlsRequests(benchmark::State& state) { SequentialRequests(state, true); }
void BM_SequentialPlainRequests(benchmark::State& state) { SequentialRequests(state, false); }
BENCHMARK(BM_SequentialTlsRequests)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_SequentialPlainRequests)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
