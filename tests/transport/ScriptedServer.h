// A loopback test server (plain TCP or TLS) whose every connection runs a script: it can
// answer with any raw bytes, split them, pause between them, cut the reply short, reset the
// connection, or stall until the test releases it. One thread per connection.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zarntest {

class ScriptedServer;

// The server's side of one accepted connection, handed to the script on its own thread.
class ServerConnection {
 public:
  // Reads up to and including the blank line after the request head.
  std::string ReadHead();
  // Reads the head and the Content-Length body, and records the request with the server.
  std::string ReadRequest();
  void Send(const std::string& bytes);
  // A deliberate gap between two parts of a reply (behaviour under test, not synchronisation).
  void Pause(std::chrono::milliseconds gap);
  // Answers nothing until the server is released or destroyed.
  void HoldUntilReleased();
  // Ends the connection with a TCP reset instead of an orderly close.
  void Reset();
  // The connection's number in accept order, from 0.
  int Index() const { return index_; }

 private:
  friend class ScriptedServer;
  ServerConnection(ScriptedServer& server, int fd, SSL* ssl, int index);
  std::size_t ReadSome(char* buffer, std::size_t size);

  ScriptedServer& server_;
  int fd_;
  SSL* ssl_;
  int index_;
  std::string pending_;
  bool reset_ = false;
};

class ScriptedServer {
 public:
  using Script = std::function<void(ServerConnection&)>;
  struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
  };

  explicit ScriptedServer(Script script, std::optional<TlsIdentity> tls = std::nullopt);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "http(s)://<host>:<port><path>".
  std::string Url(const std::string& path = "/", const std::string& host = "127.0.0.1") const;

  // Waits until `count` connections have been accepted (and, for TLS, completed the handshake).
  bool WaitForConnections(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::size_t Connections();
  // Requests recorded by ReadRequest, in arrival order.
  std::vector<std::string> Requests();
  // The server name the last TLS client asked for (SNI), empty when none.
  std::string LastServerName();
  // Lets every HoldUntilReleased return.
  void Release();

 private:
  friend class ServerConnection;
  void AcceptLoop();
  void Serve(int fd, int index);
  void RecordRequest(std::string request);

  Script script_;
  SSL_CTX* tlsContext_ = nullptr;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptThread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  bool released_ = false;
  std::size_t connections_ = 0;
  std::vector<int> openFds_;
  std::vector<std::thread> connectionThreads_;
  std::vector<std::string> requests_;
  std::string lastServerName_;
};

}  // namespace zarntest
