#include "tools/mock_backend/ProcessSignals.h"

#include <pthread.h>
#include <signal.h>

namespace zarnmock {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void IgnoreBrokenPipesOnThisThread() {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

// Blocked before any thread starts, so every server thread inherits the mask and the signals
// are only ever taken by sigwait.
void PrepareForStopRequests() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopRequest() {
  const sigset_t set = StopSignals();
  int received = 0;
  sigwait(&set, &received);
}

}  // namespace zarnmock
