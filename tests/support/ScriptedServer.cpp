#include "ScriptedServer.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace zarntest {

bool ScriptedServer::Connection::ReadMore() {
  // Shutting a socket down does not wake a read blocked on it everywhere (wine), so a read waits
  // in slices and gives up once the server is being destroyed.
  while ((ssl_ == nullptr || SSL_pending(ssl_) == 0) && !os::WaitReadable(socket_, std::chrono::milliseconds(50))) {
    std::lock_guard<std::mutex> lock(server_.mutex_);
    if (server_.stopping_) return false;
  }
  char buffer[4096];
  const long n = ssl_ != nullptr ? SSL_read(ssl_, buffer, sizeof buffer) : os::Receive(socket_, buffer, sizeof buffer);
  if (n > 0) pending_.append(buffer, static_cast<std::size_t>(n));
  return n > 0;
}

std::string ScriptedServer::Connection::ReadRequest(std::size_t atMost) {
  while (pending_.find("\r\n\r\n") == std::string::npos && pending_.size() < atMost && ReadMore()) {}
  const std::size_t blank = pending_.find("\r\n\r\n");
  const std::size_t at = pending_.find("\r\nContent-Length: ");
  const std::size_t length = at < blank ? std::strtoul(pending_.c_str() + at + 18, nullptr, 10) : 0;
  const std::size_t end = std::min(atMost, blank == std::string::npos ? pending_.size() : blank + 4 + length);
  while (pending_.size() < end && ReadMore()) {}
  std::string request = pending_.substr(0, end);
  pending_.erase(0, request.size());
  std::lock_guard<std::mutex> lock(server_.mutex_);
  server_.requests_.push_back(request);
  return request;
}

namespace {
void Pump(os::Socket from, os::Socket to) {
  char buffer[4096];
  for (long n; (n = os::Receive(from, buffer, sizeof buffer)) > 0;) {
    if (os::Send(to, buffer, static_cast<std::size_t>(n)) != n) break;
  }
  os::Shutdown(to);
}
}  // namespace

void ScriptedServer::Connection::Relay(std::uint16_t port) {
  const os::Socket server = os::ConnectLoopback(port);
  if (server == os::kNoSocket) return;
  os::Send(server, pending_.data(), pending_.size());
  pending_.clear();
  std::thread back([this, server] { Pump(server, socket_); });
  Pump(socket_, server);
  back.join();
  os::Close(server);
}

bool ScriptedServer::Connection::Send(const std::string& bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const long n = ssl_ != nullptr ? SSL_write(ssl_, &bytes[sent], static_cast<int>(bytes.size() - sent))
                                   : os::Send(socket_, &bytes[sent], bytes.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

ScriptedServer::ScriptedServer(Script play, const std::optional<zarncert::KeyCert>& tls, const std::string& host,
                               std::uint16_t port)
    : script_(std::move(play)), host_(host), port_(port) {
  if (tls) {
    // The key follows the certificate in one buffer; PEM reading picks each out in turn.
    const std::string pem = tls->certPem + tls->keyPem;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    const bool ok = tls_ && SSL_CTX_use_cert_and_key(tls_.get(), cert, key, nullptr, 1) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(bio);
    if (!ok) throw std::runtime_error("scripted server: unusable TLS identity");
  }
  listener_ = os::ListenLoopback(port_, host_);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Wakes the accept loop and every connection blocked in a read.
    os::Shutdown(listener_);
    for (const os::Socket socket : open_) os::Shutdown(socket);
    changed_.notify_all();
  }
  acceptThread_.join();
  // The accept loop has ended, so nobody adds threads any more.
  for (std::thread& thread : threads_) thread.join();
  os::Close(listener_);
}

std::string ScriptedServer::Url(const std::string& path, const std::string& host) const {
  const std::string name = !host.empty() ? host : host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
  return std::string(tls_ ? "https" : "http") + "://" + name + ":" + std::to_string(port_) + path;
}

bool ScriptedServer::WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return connections_ >= count; });
}

std::vector<std::string> ScriptedServer::Requests() { std::lock_guard<std::mutex> lock(mutex_); return requests_; }

void ScriptedServer::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

void ScriptedServer::AcceptLoop() {
  os::IgnoreBrokenPipesOnThisThread();
  for (int index = 0;; ++index) {
    const os::Socket socket = os::Accept(listener_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (socket != os::kNoSocket && stopping_) os::Close(socket);
    if (socket == os::kNoSocket || stopping_) return;
    open_.push_back(socket);
    threads_.emplace_back([this, socket, index] { Serve(socket, index); });
  }
}

void ScriptedServer::Serve(os::Socket socket, int index) {
  os::IgnoreBrokenPipesOnThisThread();
  SSL* ssl = tls_ ? SSL_new(tls_.get()) : nullptr;
  // OpenSSL takes the handle as an int, which holds a Winsock handle too.
  const bool ready = !tls_ || (ssl && SSL_set_fd(ssl, static_cast<int>(socket)) == 1 && SSL_accept(ssl) == 1);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    changed_.notify_all();
  }
  Connection connection(*this, socket, ssl, index);
  if (ready) script_(connection);
  if (ready && ssl != nullptr && connection.ending_ == Connection::Ending::Orderly) SSL_shutdown(ssl);
  SSL_free(ssl);
  // Closed under the lock, so the destructor never shuts down a handle already reused.
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(std::find(open_.begin(), open_.end(), socket));
  connection.ending_ == Connection::Ending::Reset ? os::CloseWithReset(socket) : os::Close(socket);
}

}  // namespace zarntest
