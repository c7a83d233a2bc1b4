#include "transport/ConnectionPool.h"

#include <openssl/ssl.h>

#include <ctime>
#include <utility>


namespace sion {
namespace {

using Clock = std::chrono::steady_clock;
using zarnplatform::MutexLock;

}  // namespace

Connection::~Connection() {
  if (finish && stream) stream->Finish();
}

void ConnectionPool::FreeSession::operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }

ConnectionPool::~ConnectionPool() { Close(); }

std::unique_ptr<Connection> ConnectionPool::Take(const std::string& origin, std::chrono::milliseconds idleLimit) {
  const Clock::time_point freshFrom = Clock::now() - idleLimit;
  std::vector<std::unique_ptr<Connection>> expired;  // closed after the lock is let go
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      MutexLock lock(mutex_);
      TakeExpired(freshFrom, expired);
      const auto found = origins_.find(origin);
      if (found == origins_.end() || found->second.idle.empty()) return nullptr;
      connection = std::move(found->second.idle.back());
      found->second.idle.pop_back();
    }
    // Checked, and closed when unusable, without the lock: both touch the network.
    if (connection->idleSince <= freshFrom) continue;
    if (connection->stream->StillIdle()) return connection;
    // The server closed it (its own idle limit), or sent what no request asked for.
    connection->finish = false;
  }
}

void ConnectionPool::Put(const std::string& origin, std::unique_ptr<Connection> connection,
                         std::chrono::milliseconds idleLimit) {
  connection->idleSince = Clock::now();
  connection->finish = true;
  std::vector<std::unique_ptr<Connection>> expired;  // closed after the lock is let go
  std::unique_ptr<Connection> surplus;
  MutexLock lock(mutex_);
  TakeExpired(connection->idleSince - idleLimit, expired);
  if (closed_) {
    surplus = std::move(connection);
    return;
  }
  std::deque<std::unique_ptr<Connection>>& idle = origins_[origin].idle;
  idle.push_back(std::move(connection));
  if (idle.size() > kMaxIdlePerOrigin) {
    surplus = std::move(idle.front());
    idle.pop_front();
  }
}

SSL_SESSION* ConnectionPool::TakeSession(const std::string& origin) {
  MutexLock lock(mutex_);
  const auto found = origins_.find(origin);
  if (found == origins_.end()) return nullptr;
  auto& sessions = found->second.sessions;
  const std::time_t now = std::time(nullptr);
  while (!sessions.empty()) {
    SSL_SESSION* session = sessions.back().get();
    if (SSL_SESSION_get_time(session) + SSL_SESSION_get_timeout(session) <= now) {
      sessions.pop_back();  // the server would not take it any more
      continue;
    }
    if (SSL_SESSION_get_protocol_version(session) == TLS1_3_VERSION) {
      sessions.back().release();
      sessions.pop_back();
      return session;
    }
    SSL_SESSION_up_ref(session);
    return session;
  }
  return nullptr;
}

void ConnectionPool::KeepSession(const std::string& origin, SSL_SESSION* session) {
  std::unique_ptr<SSL_SESSION, FreeSession> dropped;  // freed after the lock is let go
  MutexLock lock(mutex_);
  if (closed_) {
    dropped.reset(session);
    return;
  }
  auto& sessions = origins_[origin].sessions;
  sessions.emplace_back();  // may throw; the session is not ours before the next line
  sessions.back().reset(session);
  if (sessions.size() > kMaxSessionsPerOrigin) {
    dropped = std::move(sessions.front());
    sessions.pop_front();
  }
}

void ConnectionPool::TakeExpired(Clock::time_point freshFrom, std::vector<std::unique_ptr<Connection>>& expired) {
  for (auto& [origin, entry] : origins_) {
    while (!entry.idle.empty() && entry.idle.front()->idleSince <= freshFrom) {
      expired.push_back(std::move(entry.idle.front()));
      entry.idle.pop_front();
    }
  }
}

void ConnectionPool::Close() {
  std::map<std::string, Origin> taken;  // closed and freed after the lock is let go
  MutexLock lock(mutex_);
  closed_ = true;
  taken.swap(origins_);
}

}  // namespace sion
