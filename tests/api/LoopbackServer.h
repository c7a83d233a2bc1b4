// A small scripted HTTPS (or plain HTTP) server on 127.0.0.1 for the API client's tests: every
// path answers with the reply set for it (or the default reply), byte for byte, and every
// request is recorded. With TLS it makes a fresh certificate authority and points
// SSL_CERT_FILE at it for the life of the server, so the transport's verified TLS trusts it.
//
// Threads: the server answers on its own threads; every member may be called from any thread.
// One mutex guards the replies and the records; nothing is called out under it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace httplib {
class Server;
}

namespace zarntest {

struct ScriptedReply {
  int status = 200;
  std::string body;  // raw bytes, zero bytes included
  std::string contentType = "application/json;charset=utf-8";
};

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;  // names as received
  std::string body;
  // The first value of a header, names compared case-insensitively; empty when absent.
  std::string Header(const std::string& name) const;
};

class LoopbackServer {
 public:
  enum class Mode { Plain, Tls };

  // Binds an ephemeral port and starts answering before it returns.
  explicit LoopbackServer(Mode mode = Mode::Tls);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::string Origin() const;  // "https://127.0.0.1:<port>" (http when plain)
  std::string Url(const std::string& path) const { return Origin() + path; }

  void SetDefaultReply(ScriptedReply reply);
  void SetReply(const std::string& path, ScriptedReply reply);

  std::vector<ReceivedRequest> Requests();
  std::vector<ReceivedRequest> Requests(const std::string& path);
  bool WaitForRequests(const std::string& path, size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  Mode mode_;
  TempDir certDir_;
  std::unique_ptr<ScopedEnv> trust_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;
  int port_ = 0;

  std::mutex mutex_;
  std::condition_variable arrived_;
  ScriptedReply defaultReply_;
  std::map<std::string, ScriptedReply> replies_;
  std::vector<ReceivedRequest> requests_;
};

// A loopback port where nothing listens: the socket is bound but never listens, so a connect
// is refused for as long as this object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace zarntest
