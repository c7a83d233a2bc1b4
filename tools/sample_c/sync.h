/* The little threading the C sample needs, over the OS's own primitives: one lock with one
 * condition, waits with a deadline on a monotonic clock, and a helper thread. One
 * implementation per OS (sync_posix.c, sync_windows.c); CMake compiles the right one. */
#ifndef ZARN_SAMPLE_SYNC_H
#define ZARN_SAMPLE_SYNC_H

void sync_setup(void); /* first of all, on the main thread */
void sync_lock(void);
void sync_unlock(void);
void sync_notify(void); /* wakes every waiter; call it holding the lock */
/* Holding the lock: waits for a notification or the deadline; 0 once the deadline passed. */
int sync_wait_until(long deadline_ms);
long sync_now_ms(void); /* milliseconds since sync_setup, on a monotonic clock */
int sync_on_main_thread(void);
/* Runs `run` on a detached thread; 0 when no thread could be started. One at a time. */
int sync_start_thread(void (*run)(void));

#endif
