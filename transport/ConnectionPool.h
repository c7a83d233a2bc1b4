// Connections kept open between requests (HTTP/1.1 persistent connections) and the TLS sessions
// that let a new connection skip the full handshake, per origin (scheme, host, port).
//
// A new TLS handshake costs the client about a millisecond of CPU and the network two round
// trips; a kept connection costs neither, so analytics at game scale depend on them.
//
// Threads: every member function may be called from any thread. `mutex_` guards the lists
// and is never held while a connection is checked, used or closed: a connection is taken out
// first. A connection is either in the pool or with exactly one request.
// Ownership: the pool owns its idle connections and one reference to each kept session; Take
// hands a connection, TakeSession a reference, to the caller. A WorkerPool owns one, lends it
// to its requests (TransportContext) and closes it when it stops. Connections whose idle time
// ran out are closed as the pool is next used (Take, Put): nobody needs to wake up for them.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "platform/Socket.h"
#include "transport/ByteStream.h"

// OpenSSL's session type without OpenSSL's headers, which bring <windows.h> on Windows into
// every file that sees the worker pool.
typedef struct ssl_session_st SSL_SESSION;

namespace sion {

// One open connection to a server: the socket and the stream (plain or TLS) over it.
class Connection {
 public:
  Connection() = default;
  // Closes the socket, after ending the stream politely (TLS close_notify) when `finish`.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  std::unique_ptr<zarnplatform::TcpSocket> socket;
  std::unique_ptr<ByteStream> stream;  // over `socket`, so declared after it
  std::string ip;                      // the server's (or proxy's) address, as connected
  std::chrono::steady_clock::time_point idleSince;
  bool finish = false;  // the last reply was read to its end: the stream is in a clean state
};

class ConnectionPool {
 public:
  // Enough for the SDK's background share and its game calls at once; more would only keep
  // sockets that the next burst does not need.
  static constexpr std::size_t kMaxIdlePerOrigin = 4;
  static constexpr std::size_t kMaxSessionsPerOrigin = 4;

  ConnectionPool() = default;
  ~ConnectionPool();  // Close()
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // The most recently used idle connection to `origin` that is within its idle time and that
  // the server has neither closed nor written to since; null when there is none. Connections
  // found unusable on the way, and those of any origin idle for `idleLimit`, are closed.
  std::unique_ptr<Connection> Take(const std::string& origin, std::chrono::milliseconds idleLimit) EXCLUDES(mutex_);
  // Keeps a connection whose last reply was read to its end and allows another request. Beyond
  // kMaxIdlePerOrigin the longest idle one is closed; after Close the given one is. Closes those
  // of any origin idle for `idleLimit`.
  void Put(const std::string& origin, std::unique_ptr<Connection> connection, std::chrono::milliseconds idleLimit)
      EXCLUDES(mutex_);

  // A session to offer when connecting to `origin`, with one reference for the caller to free;
  // null when none is kept. A TLS 1.3 ticket is handed out once (servers may refuse a second
  // use and the handshake would leak that two connections belong together); a TLS 1.2 session
  // stays for the next connection too.
  SSL_SESSION* TakeSession(const std::string& origin) EXCLUDES(mutex_);
  // Takes over one reference to a session the server of `origin` granted. Throws only before
  // taking it (std::bad_alloc), which is what a TlsSessionSink must do.
  void KeepSession(const std::string& origin, SSL_SESSION* session) EXCLUDES(mutex_);

  // Closes every idle connection and forgets the sessions; from then on, Put closes what it is
  // given and KeepSession frees it. Never throws.
  void Close() EXCLUDES(mutex_);

 private:
  struct FreeSession {
    void operator()(SSL_SESSION* session) const;
  };
  struct Origin {
    std::deque<std::unique_ptr<Connection>> idle;  // longest idle first
    std::deque<std::unique_ptr<SSL_SESSION, FreeSession>> sessions;  // newest last
  };

  // Moves the connections idle since before `freshFrom` into `expired`, to be closed unlocked.
  void TakeExpired(std::chrono::steady_clock::time_point freshFrom, std::vector<std::unique_ptr<Connection>>& expired)
      REQUIRES(mutex_);

  zarnplatform::Mutex mutex_;
  std::map<std::string, Origin> origins_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
};

}  // namespace sion
