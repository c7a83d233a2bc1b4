#include "tools/mock_backend/MockBackend.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <random>
#include <iostream>
#include <stdexcept>

#include "tools/certgen/CertGen.h"
#include "tools/mock_backend/FormBody.h"
#include "tools/mock_backend/RequestCatalogue.h"
#include "tools/mock_backend/RequestVerifier.h"
#include "tools/mock_backend/ProcessSignals.h"
#include "tools/mock_backend/TlsIdentity.h"
#include "tools/mock_backend/TransactionDrop.h"

namespace zarnmock {
namespace {

// Short: Stop waits for every idle kept connection to time out (httplib does not cut them).
constexpr time_t kKeepAliveSeconds = 1;
// Requests one connection may carry, as a production server allows (nginx: 1000); httplib's
// default of 5 would make a client reconnect every few requests.
constexpr size_t kRequestsPerConnection = 1000;
constexpr size_t kMaxBodyBytes = 8 * 1024 * 1024;
constexpr char kJson[] = "application/json;charset=utf-8";

std::string Envelope(int code, const std::string& msg) {
  return nlohmann::ordered_json{{"code", code}, {"msg", msg}}.dump(-1, ' ', false,
                                                                   nlohmann::json::error_handler_t::replace);
}

// The member as text when it is one; empty otherwise.
std::string TextMember(const nlohmann::json& document, const char* name) {
  const auto it = document.find(name);
  return it != document.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool IsPseudoHeader(const std::string& name) {
  // httplib files the peer's and its own address among the request headers.
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

std::string TemporaryCaPath() {
  // Unique across processes and within one: several mocks may run at once.
  static std::atomic<unsigned> counter{0};
  static const unsigned processTag = std::random_device{}();
  return (std::filesystem::temp_directory_path() /
          ("zarn-mock-ca-" + std::to_string(processTag) + "-" + std::to_string(++counter) + ".pem"))
      .string();
}

// Lets Start wait until the listening loop runs: httplib's stop() is only heard after that.
struct ListenGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  bool Wait(std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return open; });
  }
};

}  // namespace

MockBackend::MockBackend(MockOptions options)
    : options_(std::move(options)), log_(options_.recordFile), steamSimDir_(options_.steamSimDir) {
  if (!options_.catalogueFile.empty()) factory_.SetCatalogue(ProductCatalogue::FromFile(options_.catalogueFile));
  factory_.SetPayStatus(options_.payStatus);
}

MockBackend::~MockBackend() { Stop(); }

void MockBackend::Start() {
  if (server_) throw std::logic_error("mock backend already started");
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopping_ = false;
  }

  std::unique_ptr<httplib::Server> server;
  if (options_.plainHttp) {
    server = std::make_unique<httplib::Server>();
  } else {
    const TlsIdentity identity = MakeTlsIdentity(options_.authority);
    const bool ownsFile = options_.caCertFile.empty();
    const std::string caFile = ownsFile ? TemporaryCaPath() : options_.caCertFile;
    zarncert::WritePem(caFile, identity.authorityCertPem);
    {
      std::lock_guard<std::mutex> lock(caMutex_);
      caCertFile_ = caFile;
    }
    ownsCaCertFile_ = ownsFile;
    server = std::make_unique<httplib::SSLServer>(
        [identity](SSL_CTX& context) { return InstallTlsIdentity(context, identity); });
    if (!server->is_valid()) throw std::runtime_error("the TLS context refused the generated certificate");
  }

  auto gate = std::make_shared<ListenGate>();
  server->new_task_queue = [gate, threads = options_.serverThreads] {
    gate->Open();
    return new httplib::ThreadPool(threads);
  };
  const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
    Handle(request, response);
  };
  server->Get(".*", handler);
  server->Post(".*", handler);
  server->Put(".*", handler);
  server->Delete(".*", handler);
  server->set_keep_alive_timeout(kKeepAliveSeconds);
  server->set_keep_alive_max_count(kRequestsPerConnection);
  // Without it a TLS reply written in two records waits for the client's delayed ACK, about
  // 40 ms per request. Set on the listening socket; accepted sockets inherit it.
  server->set_tcp_nodelay(true);
  server->set_payload_max_length(kMaxBodyBytes);

  int port = -1;
  if (options_.port == 0) {
    port = server->bind_to_any_port("127.0.0.1");
  } else if (server->bind_to_port("127.0.0.1", options_.port)) {
    port = options_.port;
  }
  if (port <= 0) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port));
  port_ = port;

  httplib::Server* raw = server.get();
  listenThread_ = std::thread([raw, gate] {
    // The pool threads are created on this thread and inherit this.
    IgnoreBrokenPipesOnThisThread();
    raw->listen_after_bind();
    gate->Open();  // also when the loop never started, so Start cannot wait forever
  });
  server_ = std::move(server);
  if (!gate->Wait(std::chrono::seconds(30)) || !server_->is_running()) {
    Stop();
    throw std::runtime_error("the mock backend's listening loop did not start");
  }
}

void MockBackend::Stop() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (server_) server_->stop();
  if (listenThread_.joinable()) listenThread_.join();
  server_.reset();
  if (ownsCaCertFile_) {
    std::error_code ignored;
    std::filesystem::remove(CaCertFile(), ignored);
    ownsCaCertFile_ = false;
  }
}

std::string MockBackend::Origin() const {
  return std::string(options_.plainHttp ? "http" : "https") + "://127.0.0.1:" + std::to_string(port_.load());
}

std::string MockBackend::Url(const std::string& path) const { return Origin() + path; }

std::string MockBackend::CaCertFile() const {
  std::lock_guard<std::mutex> lock(caMutex_);
  return caCertFile_;
}

void MockBackend::SetAppKey(const std::string& appId, const std::string& appKey) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  options_.appKeys[appId] = appKey;
}

void MockBackend::SetDefaultAppKey(const std::string& appKey) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  options_.defaultAppKey = appKey;
}

void MockBackend::SetSteamSimDir(const std::string& folder) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  steamSimDir_ = folder;
}

std::optional<std::string> MockBackend::KeyFor(const std::string& appId) const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  auto it = options_.appKeys.find(appId);
  if (it != options_.appKeys.end()) return it->second;
  if (!options_.defaultAppKey.empty()) return options_.defaultAppKey;
  return std::nullopt;
}

void MockBackend::Script(const std::string& path, ReplyScript script) { scripts_.Set(path, std::move(script)); }
void MockBackend::ClearScript(const std::string& path) { scripts_.Clear(path); }
void MockBackend::ClearScripts() { scripts_.ClearAll(); }
void MockBackend::SetIsTestDevice(int value) { factory_.SetIsTestDevice(value); }
void MockBackend::SetLoginToken(std::string token) { factory_.SetLoginToken(std::move(token)); }
void MockBackend::SetLoginUserId(int64_t userId) { factory_.SetLoginUserId(userId); }
void MockBackend::SetPayStatus(int status) { factory_.SetPayStatus(status); }
void MockBackend::ForceSteamOrderId(std::optional<std::string> steamOrderId) {
  factory_.ForceSteamOrderId(std::move(steamOrderId));
}
void MockBackend::SetCatalogueJson(const std::string& json) {
  factory_.SetCatalogue(ProductCatalogue::FromJsonText(json));
}
void MockBackend::LoadCatalogueFile(const std::string& path) {
  factory_.SetCatalogue(ProductCatalogue::FromFile(path));
}

void MockBackend::StartEventsOutage() {
  if (!options_.eventsOutage) return;
  const MockOptions::Outage& outage = *options_.eventsOutage;
  ReplyScript script;
  script.failUntil = std::chrono::steady_clock::now() + outage.length;
  script.failureHttpStatus = outage.httpStatus;
  script.failureBody = Envelope(outage.httpStatus, "analytics outage");
  script.failureRetryAfter = outage.retryAfter;
  scripts_.Set(paths::kAnalytics, std::move(script));
}

std::vector<RecordedRequest> MockBackend::Requests() const { return log_.All(); }
std::vector<RecordedRequest> MockBackend::Requests(const std::string& path) const { return log_.ForPath(path); }
size_t MockBackend::RequestCount(const std::string& path) const { return log_.Count(path); }
bool MockBackend::WaitForRequests(const std::string& path, size_t count, std::chrono::milliseconds timeout) const {
  return log_.WaitFor(path, count, timeout);
}
bool MockBackend::WaitForAnswers(const std::string& path, size_t count, std::chrono::milliseconds timeout) const {
  return log_.WaitForAnswered(path, count, timeout);
}
void MockBackend::ClearRequests() { log_.Clear(); }

void MockBackend::WaitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  stopSignal_.wait_for(lock, delay, [this] { return stopping_; });
}

void MockBackend::Handle(const httplib::Request& request, httplib::Response& response) {
  try {
    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.body = request.body;
    for (const auto& [name, value] : request.headers) {
      if (!IsPseudoHeader(name)) record.headers.emplace_back(name, value);
    }

    // Refusals below the level of the request format: unknown path, wrong method.
    int refusalStatus = 200;
    const FormRequestSpec* spec = FindFormRequestSpec(request.path);
    const bool analytics = request.path == paths::kAnalytics;
    const bool outageControl = request.path == paths::kEventsOutage && options_.eventsOutage;
    Verdict verdict;
    if (spec == nullptr && !analytics && !outageControl) {
      refusalStatus = 404;
      verdict = Verdict{false, "no such path: " + request.path, {}};
    } else if (request.method != "POST") {
      refusalStatus = 405;
      verdict = Verdict{false, "method " + request.method + " not allowed", {}};
    } else if (outageControl) {
      // Nothing to check.
    } else if (std::string fault = CheckContentType(analytics, request.get_header_value("Content-Type"));
               !fault.empty()) {
      verdict = Verdict{false, fault, {}};
    } else if (analytics) {
      verdict = VerifyAnalyticsBody(request.body);
    } else {
      FormParseResult form = ParseFormBody(request.body);
      record.params = std::move(form.params);
      if (!form.error.empty()) {
        verdict = Verdict{false, form.error, {}};
      } else {
        verdict = VerifyFormRequest(*spec, record.params, [this](const std::string& appId) { return KeyFor(appId); });
      }
    }
    if (analytics) {
      const auto document = nlohmann::json::parse(request.body, nullptr, false);
      record.deviceId = TextMember(document, "deviceId");
      record.eventOrder = TextMember(document, "eventOrder");
    }
    record.ok = verdict.ok;
    record.reason = verdict.reason;
    record.signatureText = verdict.signatureText;
    log_.Arrived(record);

    const ScriptedAnswer scripted = scripts_.Take(request.path);
    if (scripted.delay.count() > 0) WaitUnlessStopping(scripted.delay);

    std::string contentType = kJson;
    if (scripted.failure || scripted.body) {
      record.replyStatus = scripted.httpStatus;
      record.replyBody = *scripted.body;
      contentType = scripted.contentType;
    } else {
      record.replyStatus = scripted.httpStatus;
      if (refusalStatus != 200) {
        record.replyStatus = refusalStatus;
        record.replyBody = Envelope(refusalStatus, verdict.reason);
      } else if (!verdict.ok) {
        record.replyBody = Envelope(1002, "sign error: " + verdict.reason);
      } else if (outageControl) {
        StartEventsOutage();
        record.replyBody = Envelope(200, "analytics outage started");
      } else {
        FactoryReply reply = factory_.Answer(request.path, record.params);
        record.replyBody = std::move(reply.body);
        std::string folder;
        {
          std::lock_guard<std::mutex> lock(settingsMutex_);
          folder = steamSimDir_;
        }
        if (reply.order && !folder.empty()) {
          const std::string fault = DropTransactionFile(folder, reply.order->steamOrderId, reply.order->steamAppId);
          record.note = fault.empty() ? "transaction file " + reply.order->steamOrderId + ".json written" : fault;
          if (!fault.empty()) std::cerr << "zarn-mock-backend: " << fault << std::endl;
        }
      }
    }
    record.answered = true;
    response.status = record.replyStatus;
    if (!scripted.retryAfter.empty()) response.set_header("Retry-After", scripted.retryAfter);
    response.set_content(record.replyBody, contentType.c_str());
    log_.Answered(record);
  } catch (const std::exception& error) {
    response.status = 500;
    response.set_content(Envelope(500, std::string("mock backend fault: ") + error.what()), kJson);
  } catch (...) {
    response.status = 500;
    response.set_content(Envelope(500, "mock backend fault"), kJson);
  }
}

}  // namespace zarnmock
