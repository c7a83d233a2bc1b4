#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace zarntest {
namespace {

// The server's own writes to a client that already left must not kill the test with SIGPIPE;
// blocking it on the server's threads keeps it away from the client code under test.
void BlockSigpipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SSL_CTX* MakeServerContext(const ScriptedServer::TlsIdentity& identity) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  BIO* certBio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
  BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  const bool ok = context != nullptr && cert != nullptr && key != nullptr &&
                  SSL_CTX_use_certificate(context, cert) == 1 && SSL_CTX_use_PrivateKey(context, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  BIO_free(certBio);
  BIO_free(keyBio);
  if (!ok) {
    SSL_CTX_free(context);
    throw std::runtime_error("test server: bad TLS identity");
  }
  return context;
}

}  // namespace

ServerConnection::ServerConnection(ScriptedServer& server, int fd, SSL* ssl, int index)
    : server_(server), fd_(fd), ssl_(ssl), index_(index) {}

std::size_t ServerConnection::ReadSome(char* buffer, std::size_t size) {
  if (ssl_ != nullptr) {
    const int n = SSL_read(ssl_, buffer, static_cast<int>(size));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return 0;
  }
}

std::string ServerConnection::ReadHead() {
  char buffer[4096];
  std::size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    const std::size_t n = ReadSome(buffer, sizeof buffer);
    if (n == 0) return std::exchange(pending_, std::string());
    pending_.append(buffer, n);
  }
  std::string head = pending_.substr(0, end + 4);
  pending_.erase(0, end + 4);
  return head;
}

std::string ServerConnection::ReadRequest() {
  std::string request = ReadHead();
  std::size_t length = 0;
  const std::string key = "\r\nContent-Length: ";
  if (const std::size_t at = request.find(key); at != std::string::npos) {
    length = std::strtoul(request.c_str() + at + key.size(), nullptr, 10);
  }
  char buffer[4096];
  while (pending_.size() < length) {
    const std::size_t n = ReadSome(buffer, sizeof buffer);
    if (n == 0) break;
    pending_.append(buffer, n);
  }
  request += pending_.substr(0, length);
  pending_.erase(0, std::min(length, pending_.size()));
  server_.RecordRequest(request);
  return request;
}

void ServerConnection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const std::size_t left = bytes.size() - sent;
    const long n = ssl_ != nullptr ? SSL_write(ssl_, bytes.data() + sent, static_cast<int>(left))
                                   : ::send(fd_, bytes.data() + sent, left, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void ServerConnection::Pause(std::chrono::milliseconds gap) { std::this_thread::sleep_for(gap); }

void ServerConnection::HoldUntilReleased() {
  std::unique_lock<std::mutex> lock(server_.mutex_);
  server_.changed_.wait(lock, [this] { return server_.released_ || server_.stopping_; });
}

void ServerConnection::Reset() {
  linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  reset_ = true;
}

ScriptedServer::ScriptedServer(Script script, std::optional<TlsIdentity> tls) : script_(std::move(script)) {
  if (tls) tlsContext_ = MakeServerContext(*tls);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("test server: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    // Unblocks the accept loop and any connection thread stuck in a read.
    ::shutdown(listenFd_, SHUT_RDWR);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
  }
  changed_.notify_all();
  acceptThread_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connectionThreads_);
  }
  for (auto& thread : threads) thread.join();
  ::close(listenFd_);
  SSL_CTX_free(tlsContext_);
}

std::string ScriptedServer::Url(const std::string& path, const std::string& host) const {
  return std::string(tlsContext_ != nullptr ? "https" : "http") + "://" + host + ":" + std::to_string(port_) + path;
}

bool ScriptedServer::WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return connections_ >= count; });
}

std::size_t ScriptedServer::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::string ScriptedServer::LastServerName() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastServerName_;
}

void ScriptedServer::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void ScriptedServer::RecordRequest(std::string request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
  }
  changed_.notify_all();
}

void ScriptedServer::AcceptLoop() {
  BlockSigpipe();
  for (int index = 0;; ++index) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd < 0 || stopping_) {
      if (fd >= 0) ::close(fd);
      if (stopping_) return;
      continue;
    }
    openFds_.push_back(fd);
    connectionThreads_.emplace_back([this, fd, index] { Serve(fd, index); });
  }
}

void ScriptedServer::Serve(int fd, int index) {
  BlockSigpipe();
  SSL* ssl = nullptr;
  bool ready = true;
  if (tlsContext_ != nullptr) {
    ssl = SSL_new(tlsContext_);
    SSL_set_fd(ssl, fd);
    ready = SSL_accept(ssl) == 1;
    if (ready) {
      const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
      std::lock_guard<std::mutex> lock(mutex_);
      lastServerName_ = name != nullptr ? name : "";
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
  }
  changed_.notify_all();
  if (ready) {
    ServerConnection connection(*this, fd, ssl, index);
    script_(connection);
    if (ssl != nullptr && !connection.reset_) SSL_shutdown(ssl);
  }
  SSL_free(ssl);
  ERR_clear_error();
  std::lock_guard<std::mutex> lock(mutex_);
  openFds_.erase(std::find(openFds_.begin(), openFds_.end(), fd));
  ::close(fd);
}

}  // namespace zarntest
