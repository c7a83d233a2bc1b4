// A loopback test server (plain TCP or TLS) whose every connection runs a script: it can answer
// with any raw bytes, split them, pause between them, cut the reply short, reset the connection,
// or stall until the test releases it. One thread per connection; the destructor ends them all.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Os.h"
#include "tools/certgen/CertGen.h"

namespace zarntest {

class ScriptedServer {
 public:
  // The server's side of one accepted connection, handed to the script on its own thread.
  class Connection {
   public:
    // The request head and its Content-Length body, or the first `atMost` bytes; recorded.
    std::string ReadRequest(std::size_t atMost = std::string::npos);
    // False once the client is gone.
    bool Send(const std::string& bytes);
    // Straight onto the socket, past TLS (the start of a record, say).
    void SendRaw(const std::string& bytes) { os::Send(socket_, bytes.data(), bytes.size()); }
    // Plays a CONNECT proxy's tunnel: carries bytes both ways between the client and
    // 127.0.0.1:`port` (first those already read) until either side closes. Plain TCP only.
    void Relay(std::uint16_t port);
    // Ends the connection now, orderly, while the script goes on.
    void Close() {
      if (ssl_ != nullptr) SSL_shutdown(ssl_);
      os::Shutdown(socket_);
      ending_ = Ending::Cut;
    }
    // A deliberate gap inside a reply: the behaviour under test, never synchronisation.
    void Pause(std::chrono::milliseconds gap) { std::this_thread::sleep_for(gap); }
    // Answers nothing until the server is released or destroyed.
    void HoldUntilReleased() {
      std::unique_lock<std::mutex> lock(server_.mutex_);
      server_.changed_.wait(lock, [this] { return server_.released_ || server_.stopping_; });
    }
    // How the connection ends once the script returns: orderly (TLS close_notify, then the TCP
    // close), cut (the TCP close alone, as a truncating attacker would), or with a TCP reset.
    enum class Ending { Orderly, Cut, Reset };
    void EndWith(Ending ending) { ending_ = ending; }
    int Index() const { return index_; }  // in accept order, from 0
    std::string ServerName() const {      // the name (SNI) the TLS client asked for, if any
      const char* name = ssl_ != nullptr ? SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name) : nullptr;
      return name != nullptr ? name : "";
    }
    SSL* Tls() const { return ssl_; }  // null on plain TCP
   private:
    friend class ScriptedServer;
    Connection(ScriptedServer& server, os::Socket socket, SSL* ssl, int index)
        : server_(server), socket_(socket), ssl_(ssl), index_(index) {}
    bool ReadMore();  // false once the client is gone

    ScriptedServer& server_;
    os::Socket socket_;
    SSL* ssl_;
    int index_;
    std::string pending_;
    Ending ending_ = Ending::Orderly;
  };
  using Script = std::function<void(Connection&)>;

  // With `tls`, every connection first goes through a TLS handshake with that identity. Listens
  // on `host`:`port` (0: a free port); throws when it cannot.
  explicit ScriptedServer(Script script, const std::optional<zarncert::KeyCert>& tls = std::nullopt,
                          const std::string& host = "127.0.0.1", std::uint16_t port = 0);
  ~ScriptedServer();

  // "http(s)://<host>:<port><path>"; the address it listens on unless `host` is given.
  std::string Url(const std::string& path = "/", const std::string& host = "") const;
  std::uint16_t Port() const { return port_; }
  // Whether `count` connections were accepted (with TLS: handshake ended, well or not) in time.
  bool WaitForConnections(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Requests read by ReadRequest, in arrival order.
  std::vector<std::string> Requests();
  // Lets every HoldUntilReleased return, now and later.
  void Release();

 private:
  void AcceptLoop();
  void Serve(os::Socket socket, int index);

  Script script_;
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> tls_{nullptr, SSL_CTX_free};
  std::string host_;
  std::uint16_t port_ = 0;
  os::Socket listener_ = os::kNoSocket;
  std::thread acceptThread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool released_ = false;
  std::size_t connections_ = 0;
  std::vector<os::Socket> open_;
  std::vector<std::thread> threads_;
  std::vector<std::string> requests_;
};

}  // namespace zarntest
