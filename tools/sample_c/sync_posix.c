/* sync.h over pthreads. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "sync.h"

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t cond;
static pthread_t main_thread;
static struct timespec base;
static void (*thread_run)(void);

void sync_setup(void) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  /* Deadlines on the monotonic clock: a wall-clock change neither ends nor stretches a wait. */
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&cond, &attr);
  pthread_condattr_destroy(&attr);
  main_thread = pthread_self();
  clock_gettime(CLOCK_MONOTONIC, &base);
}

void sync_lock(void) { pthread_mutex_lock(&lock); }
void sync_unlock(void) { pthread_mutex_unlock(&lock); }
void sync_notify(void) { pthread_cond_broadcast(&cond); }

int sync_wait_until(long deadline_ms) {
  struct timespec at = base;
  at.tv_sec += deadline_ms / 1000;
  at.tv_nsec += (deadline_ms % 1000) * 1000000L;
  if (at.tv_nsec >= 1000000000L) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000L;
  }
  return pthread_cond_timedwait(&cond, &lock, &at) != ETIMEDOUT;
}

long sync_now_ms(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long)(now.tv_sec - base.tv_sec) * 1000L + (now.tv_nsec - base.tv_nsec) / 1000000L;
}

int sync_on_main_thread(void) { return pthread_equal(pthread_self(), main_thread); }

static void* trampoline(void* unused) {
  (void)unused;
  thread_run();
  return NULL;
}

int sync_start_thread(void (*run)(void)) {
  pthread_t thread;
  thread_run = run;
  if (pthread_create(&thread, NULL, trampoline, NULL) != 0) return 0;
  pthread_detach(thread);
  return 1;
}
