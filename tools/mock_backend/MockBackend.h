// A local stand-in for the publisher's API server, for tests and the sample game.
//
// It serves the SDK's signed form requests under "/sdkapi" and the analytics path, checks each
// request against its own description of the request formats (parameter order, "osign"
// signature, fixed values), answers with the JSON envelopes the SDK reads, records everything
// it received, and can be scripted per path. TLS by default, with a certificate authority made
// at start and written to a PEM file; plain HTTP on request. Listens on 127.0.0.1 only.
//
// Threads: Start and Stop belong to the owner's thread. Requests are answered on the server's
// own pool of threads; every other member function may be called from any thread at any time
// and only takes short internal locks (never one held across network I/O or a delay).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/certgen/CertGen.h"
#include "tools/mock_backend/ApiPaths.h"
#include "tools/mock_backend/ReplyFactory.h"
#include "tools/mock_backend/RequestLog.h"
#include "tools/mock_backend/ScriptBook.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace zarnmock {

struct MockOptions {
  bool plainHttp = false;
  int port = 0;                                   // 0: an ephemeral port, see Port()
  std::string defaultAppKey = "zarn-demo-key";    // key of every appId not in appKeys; empty: none
  std::map<std::string, std::string> appKeys;     // appId -> app key
  std::string caCertFile;       // where the authority's PEM goes; empty: a temporary file
  std::optional<zarncert::KeyCert> authority;  // signs the server certificate; empty: a fresh one
  std::string recordFile;       // append one JSON line per answered request; empty: none
  std::string steamSimDir;      // drop a transaction file per created order; empty: none
  std::string catalogueFile;    // product catalogue; empty: the built-in catalogue.json
  int payStatus = 1;            // "status" of the payment result answer
  // More than the SDK's six workers plus test clients, so a delayed answer never queues another;
  // a connection the client keeps alive holds its thread while it idles. Simulations of many
  // clients need more.
  size_t serverThreads = 32;
  // An outage of the analytics path, begun by a POST to paths::kEventsOutage: for `length` from
  // then on every analytics request is answered `httpStatus` (with "Retry-After" when set).
  struct Outage {
    std::chrono::milliseconds length{0};
    int httpStatus = 503;
    std::string retryAfter;
  };
  std::optional<Outage> eventsOutage;
};

class MockBackend {
 public:
  // Throws std::invalid_argument for an unreadable catalogue, std::runtime_error for a record
  // file that cannot be opened.
  explicit MockBackend(MockOptions options = {});
  ~MockBackend();  // stops
  MockBackend(const MockBackend&) = delete;
  MockBackend& operator=(const MockBackend&) = delete;

  // Binds, makes the TLS identity and starts answering; on return the server accepts requests.
  // Throws std::runtime_error (port taken, TLS failure) or std::logic_error when started twice.
  void Start();
  // Stops answering, cuts delays short and joins the server threads. Safe to call twice.
  void Stop();

  int Port() const { return port_.load(); }
  std::string Origin() const;                     // "https://127.0.0.1:<port>" (http when plain)
  std::string Url(const std::string& path) const; // Origin() + path
  std::string CaCertFile() const;                 // empty in plain mode or before Start

  // Keys and the Steam overlay folder.
  void SetAppKey(const std::string& appId, const std::string& appKey);
  void SetDefaultAppKey(const std::string& appKey);  // empty: unknown appIds are refused
  void SetSteamSimDir(const std::string& folder);    // empty: no transaction files

  // Answers.
  void Script(const std::string& path, ReplyScript script);
  void ClearScript(const std::string& path);
  void ClearScripts();
  void SetIsTestDevice(int value);
  void SetLoginToken(std::string token);
  void SetLoginUserId(int64_t userId);
  void SetPayStatus(int status);
  void ForceSteamOrderId(std::optional<std::string> steamOrderId);
  uint64_t NextSteamOrderId() { return factory_.NextSteamOrderId(); }
  void SetCatalogueJson(const std::string& json);   // throws std::invalid_argument
  void LoadCatalogueFile(const std::string& path);  // throws std::invalid_argument
  // Begins (or begins again) the configured analytics outage; nothing without one.
  void StartEventsOutage();

  // Records (copies).
  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> Requests(const std::string& path) const;
  size_t RequestCount(const std::string& path) const;
  // Until `count` requests on `path` have arrived (WaitForRequests) or been answered, side
  // effects included (WaitForAnswers); false when `timeout` passed first.
  bool WaitForRequests(const std::string& path, size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool WaitForAnswers(const std::string& path, size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  void ClearRequests();

 private:
  void Handle(const httplib::Request& request, httplib::Response& response);
  std::optional<std::string> KeyFor(const std::string& appId) const;
  void WaitUnlessStopping(std::chrono::milliseconds delay);

  MockOptions options_;
  ReplyFactory factory_;
  ScriptBook scripts_;
  RequestLog log_;

  mutable std::mutex settingsMutex_;  // guards the key fields of options_ and steamSimDir
  std::string steamSimDir_;

  std::mutex stopMutex_;              // guards stopping_
  std::condition_variable stopSignal_;
  bool stopping_ = false;

  // Owner's thread only (Start, Stop, destructor); the accessors read the atomic and the copy.
  std::unique_ptr<httplib::Server> server_;
  std::thread listenThread_;
  std::atomic<int> port_{0};
  mutable std::mutex caMutex_;        // guards caCertFile_
  std::string caCertFile_;
  bool ownsCaCertFile_ = false;
};

}  // namespace zarnmock
