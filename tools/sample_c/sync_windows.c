/* sync.h over Windows slim reader/writer locks and condition variables. */
#include <windows.h>

#include "sync.h"

static SRWLOCK lock = SRWLOCK_INIT;
static CONDITION_VARIABLE cond = CONDITION_VARIABLE_INIT;
static DWORD main_thread;
static ULONGLONG base;
static void (*thread_run)(void);

void sync_setup(void) {
  main_thread = GetCurrentThreadId();
  base = GetTickCount64();
}

void sync_lock(void) { AcquireSRWLockExclusive(&lock); }
void sync_unlock(void) { ReleaseSRWLockExclusive(&lock); }
void sync_notify(void) { WakeAllConditionVariable(&cond); }

int sync_wait_until(long deadline_ms) {
  const long left = deadline_ms - sync_now_ms();
  if (left <= 0) return 0;
  return SleepConditionVariableSRW(&cond, &lock, (DWORD)left, 0) || GetLastError() != ERROR_TIMEOUT;
}

long sync_now_ms(void) { return (long)(GetTickCount64() - base); }

int sync_on_main_thread(void) { return GetCurrentThreadId() == main_thread; }

static DWORD WINAPI trampoline(LPVOID unused) {
  (void)unused;
  thread_run();
  return 0;
}

int sync_start_thread(void (*run)(void)) {
  HANDLE thread;
  thread_run = run;
  thread = CreateThread(NULL, 0, trampoline, NULL, 0, NULL);
  if (thread == NULL) return 0;
  CloseHandle(thread);
  return 1;
}
