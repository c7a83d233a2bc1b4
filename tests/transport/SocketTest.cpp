// The platform socket layer where it protects the process: writes to a peer that is gone must
// fail with an error code, never raise SIGPIPE (whose default action ends the game).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Socket.h"

namespace {

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

bool SigpipeBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

TEST(Sigpipe, SocketWritesToAVanishedPeerFailQuietly) {
  signal(SIGPIPE, SIG_DFL);
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  zarnplatform::TcpSocket socket;
  ASSERT_EQ(socket.Open(), 0);
  int error = socket.StartConnect(address.sin_addr.s_addr, ntohs(address.sin_port));
  if (error == zarnplatform::TcpSocket::kConnectPending) {
    ASSERT_EQ(socket.Wait(zarnplatform::WaitFor::Connect, 5000), zarnplatform::Readiness::Ready);
    error = socket.ConnectError();
  }
  ASSERT_EQ(error, 0);
  const int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ::close(peer);
  ::close(listener);

  // The first write may still be taken; the peer's reset then fails every later one, and a
  // write after a failed one would raise SIGPIPE without MSG_NOSIGNAL.
  int failures = 0;
  for (int i = 0; i < 50 && failures < 3; ++i) {
    ASSERT_EQ(socket.Wait(zarnplatform::WaitFor::Write, 5000), zarnplatform::Readiness::Ready);
    const auto result = socket.Send("data", 4);
    if (result.status == zarnplatform::IoStatus::Failed) ++failures;
  }
  EXPECT_EQ(failures, 3);
}

TEST(Sigpipe, GuardTakesAwayTheSignalOfItsOwnWritesOnly) {
  signal(SIGPIPE, SIG_DFL);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ::close(pair[1]);
  {
    zarnplatform::SigpipeGuard guard;
    EXPECT_EQ(::write(pair[0], "x", 1), -1);  // EPIPE, and a SIGPIPE for this thread
    EXPECT_EQ(::write(pair[0], "x", 1), -1);
  }
  EXPECT_FALSE(SigpipePending());
  EXPECT_FALSE(SigpipeBlocked());  // the old mask is back

  zarnplatform::BlockSigpipeOnThisThread();
  EXPECT_TRUE(SigpipeBlocked());
  ::close(pair[0]);
}

}  // namespace
