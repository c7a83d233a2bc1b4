#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <stdexcept>

#include "CertGen.h"

namespace zarntest {

std::string ReceivedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return {};
}

LoopbackServer::LoopbackServer(Mode mode) : mode_(mode) {
  if (mode_ == Mode::Tls) {
    const zarncert::KeyCert authority = zarncert::MakeAuthority("Zarn API test authority");
    const zarncert::KeyCert server = zarncert::MakeServerCert(authority, {"localhost"}, {"127.0.0.1"});
    const std::string caFile = (certDir_.path() / "ca.pem").string();
    const std::string certFile = (certDir_.path() / "server.pem").string();
    const std::string keyFile = (certDir_.path() / "server.key").string();
    zarncert::WritePem(caFile, authority.certPem);
    zarncert::WritePem(certFile, server.certPem);
    zarncert::WritePem(keyFile, server.keyPem);
    trust_ = std::make_unique<ScopedEnv>("SSL_CERT_FILE", caFile);
    auto tls = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
    if (!tls->is_valid()) throw std::runtime_error("TLS test server refused its certificate");
    server_ = std::move(tls);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }

  server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest received{req.method, req.path, {}, req.body};
    for (const auto& [key, value] : req.headers) received.headers.emplace_back(key, value);
    ScriptedReply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = replies_.find(req.path);
      reply = found != replies_.end() ? found->second : defaultReply_;
      requests_.push_back(std::move(received));
    }
    arrived_.notify_all();
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
  });

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test server could not bind");
  listener_ = std::thread([this] { server_->listen_after_bind(); });
}

LoopbackServer::~LoopbackServer() {
  server_->stop();
  if (listener_.joinable()) listener_.join();
}

std::string LoopbackServer::Origin() const {
  return std::string(mode_ == Mode::Tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::SetDefaultReply(ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaultReply_ = std::move(reply);
}

void LoopbackServer::SetReply(const std::string& path, ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<ReceivedRequest> LoopbackServer::Requests(const std::string& path) {
  std::vector<ReceivedRequest> out;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const ReceivedRequest& r : requests_) {
    if (r.path == path) out.push_back(r);
  }
  return out;
}

bool LoopbackServer::WaitForRequests(const std::string& path, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] {
    size_t n = 0;
    for (const ReceivedRequest& r : requests_) n += r.path == path ? 1 : 0;
    return n >= count;
  });
}

RefusingPort::RefusingPort() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof(addr);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd_);
    throw std::runtime_error("bind failed");
  }
  port_ = ntohs(addr.sin_port);
}

RefusingPort::~RefusingPort() { ::close(fd_); }

}  // namespace zarntest
