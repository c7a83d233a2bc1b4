/* zarn-sample-game-msvc: a game as an MSVC-built engine would use the SDK. Compiled by clang for
 * the MSVC ABI (x86_64-pc-windows-msvc) without any C runtime: the few Windows functions it needs
 * are declared below by hand, and lld-link links it against import libraries that llvm-dlltool
 * made from those kernel32 functions and from the zarn_* exports of the mingw-built
 * zarnsdk64_mt.dll. It plays a whole session through the C interface (zarnsdk.h) and checks each
 * answer: code, message and data, the `user` pointer it came back with, and its thread against
 * the README's table (the calling thread before the call returns, else one of the SDK's threads).
 * The SDK's warnings and errors arrive through the log handler and are printed.
 *
 * Usage: zarn-sample-game-msvc [--decline] [--timeout SECONDS]   Exit status 0: every step passed.
 */
#include <stddef.h>
#include <stdint.h>

#include "zarnsdk.h"

/* ---- Windows (kernel32), declared by hand */
typedef void* HANDLE;
typedef unsigned long DWORD;
typedef int BOOL;
typedef struct { void* opaque; } SRWLOCK;
typedef struct { void* opaque; } CONDITION_VARIABLE;
#define WINAPI __stdcall
#define STD_OUTPUT_HANDLE ((DWORD)-11)
__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD which);
__declspec(dllimport) BOOL WINAPI WriteFile(HANDLE file, const void* bytes, DWORD size, DWORD* written, void* overlapped);
__declspec(dllimport) DWORD WINAPI GetCurrentThreadId(void);
__declspec(dllimport) unsigned long long WINAPI GetTickCount64(void);
__declspec(dllimport) void WINAPI AcquireSRWLockExclusive(SRWLOCK* lock);
__declspec(dllimport) void WINAPI ReleaseSRWLockExclusive(SRWLOCK* lock);
__declspec(dllimport) BOOL WINAPI SleepConditionVariableSRW(CONDITION_VARIABLE* cv, SRWLOCK* lock, DWORD ms, DWORD flags);
__declspec(dllimport) void WINAPI WakeAllConditionVariable(CONDITION_VARIABLE* cv);
__declspec(dllimport) const unsigned short* WINAPI GetCommandLineW(void);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned code);

/* What the MSVC ABI expects a C runtime to provide: the floating-point marker, and the two
 * functions the compiler may call for copies (volatile, so it cannot turn them into calls of
 * themselves). */
int _fltused;
void* memset(void* to, int value, size_t size) {
  volatile unsigned char* p = to;
  while (size-- > 0) *p++ = (unsigned char)value;
  return to;
}
void* memcpy(void* to, const void* from, size_t size) {
  volatile unsigned char* p = to;
  const unsigned char* q = from;
  while (size-- > 0) *p++ = *q++;
  return to;
}

/* ---- text */
static size_t length_of(const char* s) {
  size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}
static int same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}
static int contains(const char* text, const char* part) {
  const size_t n = length_of(part);
  for (; *text != '\0'; ++text) {
    size_t i = 0;
    while (i < n && text[i] == part[i]) ++i;
    if (i == n) return 1;
  }
  return n == 0;
}
static void copy(char* to, size_t size, const char* from) {
  size_t i = 0;
  for (; from != NULL && from[i] != '\0' && i + 1 < size; ++i) to[i] = from[i];
  to[i] = '\0';
}

/* One output line, written whole: the SDK's threads print too. */
typedef struct Line {
  char text[1200];
  size_t length;
} Line;
static SRWLOCK print_lock;
static void add(Line* line, const char* s) {
  while (*s != '\0' && line->length < sizeof line->text - 1) line->text[line->length++] = *s++;
}
static void add_number(Line* line, long long value) {
  char digits[24];
  int n = 0;
  unsigned long long v = value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value;
  do digits[n++] = (char)('0' + v % 10); while ((v /= 10) != 0);
  if (value < 0) add(line, "-");
  while (n > 0 && line->length < sizeof line->text - 1) line->text[line->length++] = digits[--n];
}
static void emit(Line* line) {
  DWORD written;
  line->text[line->length++] = '\n';
  AcquireSRWLockExclusive(&print_lock);
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line->text, (DWORD)line->length, &written, NULL);
  ReleaseSRWLockExclusive(&print_lock);
}
static void say(const char* a, const char* b) {
  Line line;
  line.length = 0;
  add(&line, a);
  add(&line, b);
  emit(&line);
}

/* ---- calls and their answers */
enum Where { NOWHERE, INSIDE_THE_CALL, CALLING_THREAD_LATER, SDK_THREAD };
typedef struct Call {
  const char* name;
  int answers; /* the fields below hold the first answer */
  int32_t code;
  enum Where where;
  char msg[128], data[1024];
} Call;
enum { INIT, LOGIN, PRODUCTS, UNKNOWN_PRODUCT, PURCHASE, AFTER_LOGOUT, CALLS };
static Call calls[CALLS] = {{.name = "Init"},          {.name = "Login"},   {.name = "QueryProducts"},
                            {.name = "CallPay unknown"}, {.name = "CallPay"}, {.name = "CallPay after Logout"}};

static SRWLOCK lock; /* guards everything below */
static CONDITION_VARIABLE changed;
static DWORD main_thread;
static Call* under_way; /* the call the main thread is making */
static int strays;      /* answers whose user pointer is none of ours */
static enum Where warning_where;
static char last_warning[512];

static enum Where where_now(Call* call) {
  if (GetCurrentThreadId() != main_thread) return SDK_THREAD;
  return under_way == call ? INSIDE_THE_CALL : CALLING_THREAD_LATER;
}

static void on_answer(int32_t code, const char* msg, const char* data, void* user) {
  Call* call = (Call*)user;
  AcquireSRWLockExclusive(&lock);
  if (call < calls || call >= calls + CALLS || (size_t)((char*)call - (char*)calls) % sizeof(Call) != 0) {
    ++strays;
  } else if (call->answers++ == 0) {
    call->code = code;
    call->where = where_now(call);
    copy(call->msg, sizeof call->msg, msg);
    copy(call->data, sizeof call->data, data);
  }
  WakeAllConditionVariable(&changed);
  ReleaseSRWLockExclusive(&lock);
}

static void on_log(int32_t level, const char* message, void* user) {
  (void)user;
  say(level >= ZARN_LOG_ERROR ? "        SDK error: " : "        SDK warning: ", message);
  AcquireSRWLockExclusive(&lock);
  warning_where = where_now(&calls[UNKNOWN_PRODUCT]);
  copy(last_warning, sizeof last_warning, message);
  ReleaseSRWLockExclusive(&lock);
}

static void begin_call(Call* call) {
  AcquireSRWLockExclusive(&lock);
  under_way = call;
  ReleaseSRWLockExclusive(&lock);
}
static void end_call(void) { begin_call(NULL); }

static unsigned long long timeout_ms = 30000;
static int answered(Call* call) {
  const unsigned long long until = GetTickCount64() + timeout_ms;
  int answers;
  AcquireSRWLockExclusive(&lock);
  for (unsigned long long now; call->answers == 0 && (now = GetTickCount64()) < until;) {
    SleepConditionVariableSRW(&changed, &lock, (DWORD)(until - now), 0);
  }
  answers = call->answers;
  ReleaseSRWLockExclusive(&lock);
  return answers > 0;
}

/* ---- steps */
enum { STEPS = 9 };
static int step, passed;
static void begin(const char* title) {
  Line line;
  line.length = 0;
  add(&line, "\n[");
  add_number(&line, ++step);
  add(&line, "/");
  add_number(&line, STEPS);
  add(&line, "] ");
  add(&line, title);
  emit(&line);
}
static int check(int ok, const char* failure) {
  if (!ok) say("        FAIL: ", failure);
  return ok;
}
static void verdict(int ok) {
  if (ok) ++passed, say("        PASS", "");
}

/* The call's one answer: `code`, `msg` (NULL: any), data holding `part`, on the expected thread. */
static int expect(Call* call, int32_t code, const char* msg, const char* part, enum Where where) {
  static const char* const places[] = {"nowhere", "the calling thread before the call returned",
                                       "the calling thread after the call returned", "an SDK thread"};
  Line line;
  if (!check(answered(call), "no answer in time")) return 0;
  line.length = 0;
  add(&line, "        answer: code ");
  add_number(&line, call->code);
  add(&line, ", msg \"");
  add(&line, call->msg);
  add(&line, "\", on ");
  add(&line, places[call->where]);
  emit(&line);
  say("        data: ", call->data[0] != '\0' ? call->data : "(empty)");
  return check(call->code == code, "unexpected code") && check(msg == NULL || same(call->msg, msg), "unexpected message") &&
         check(part == NULL ? call->data[0] == '\0' : contains(call->data, part), "unexpected data") &&
         check(where == NOWHERE || call->where == where, "answered on the wrong thread");
}

static int matches(const unsigned short* at, const char* ascii) {
  while (*ascii != '\0' && *at == (unsigned short)*ascii) ++at, ++ascii;
  return *ascii == '\0';
}
static int declined(void) {
  int decline = 0;
  for (const unsigned short* at = GetCommandLineW(); *at != 0; ++at) {
    decline |= matches(at, "--decline");
    if (matches(at, "--timeout ")) {
      unsigned long long seconds = 0;
      for (at += 10; *at >= '0' && *at <= '9'; ++at) seconds = seconds * 10 + (*at - '0');
      if (seconds > 0) timeout_ms = seconds * 1000;
      --at;
    }
  }
  return decline;
}

static int play(void) {
  const int decline = declined();
  const char* const status = decline ? "\"status\":0" : "\"status\":1";
  int ok, counted = 1;
  main_thread = GetCurrentThreadId();
  say("zarn-sample-game-msvc: SDK ", zarn_version());
  say(decline ? "expecting status 0 (declined) " : "expecting status 1 (paid) ", "for the purchase");
  zarn_set_log_handler(ZARN_LOG_WARNING, on_log, NULL);

  begin("IsPayAvailable before Init");
  verdict(check(zarn_is_pay_available() == 0, "payment is available before start-up"));

  begin("Init");
  zarn_init("1001", ZARN_NTS, "zarn-demo-key", ZARN_NTS, on_answer, &calls[INIT]);
  verdict(expect(&calls[INIT], ZARN_OK, NULL, "\"code\":200", SDK_THREAD));

  begin("SetServerId, SetGameUserId, SetNickName, SetLevel, PostEvent");
  zarn_set_server_id("msvc-server-1", ZARN_NTS);
  zarn_set_game_user_id("msvc-hero-0001", ZARN_NTS);
  zarn_set_nick_name("MSVC Hero", ZARN_NTS);
  zarn_set_level(3);
  zarn_post_event("qzk_level_achieved", ZARN_NTS, "{\"level\":3}", ZARN_NTS, 3.0);
  verdict(1);

  begin("Login");
  zarn_login(on_answer, &calls[LOGIN]);
  verdict(expect(&calls[LOGIN], ZARN_OK, NULL, "\"token\"", SDK_THREAD));

  begin("QueryProducts");
  begin_call(&calls[PRODUCTS]);
  zarn_query_products(on_answer, &calls[PRODUCTS]);
  end_call();
  /* Before the call returns if start-up already loaded the catalogue, else from a worker. */
  verdict(expect(&calls[PRODUCTS], ZARN_OK, NULL, "\"productId\":\"gem_pack_small\"", NOWHERE) &&
          check(calls[PRODUCTS].where != CALLING_THREAD_LATER, "answered on the calling thread after the call"));

  begin("CallPay(\"no_such_product\"): refused, with a warning through the log handler");
  begin_call(&calls[UNKNOWN_PRODUCT]);
  zarn_call_pay("no_such_product", ZARN_NTS, "", 0, on_answer, &calls[UNKNOWN_PRODUCT]);
  end_call();
  ok = expect(&calls[UNKNOWN_PRODUCT], ZARN_PRODUCT_NOT_FOUND, "Not Found Product.", NULL, INSIDE_THE_CALL);
  AcquireSRWLockExclusive(&lock);
  ok = ok && check(same(last_warning, "Not Found Product\xEF\xBC\x9Ano_such_product"), "no such warning") &&
       check(warning_where == INSIDE_THE_CALL, "the warning came on another thread");
  ReleaseSRWLockExclusive(&lock);
  verdict(ok);

  begin("CallPay(\"gem_pack_small\") until the payment result");
  zarn_call_pay("gem_pack_small", ZARN_NTS, "msvc-ext-1", ZARN_NTS, on_answer, &calls[PURCHASE]);
  verdict(expect(&calls[PURCHASE], ZARN_OK, NULL, status, SDK_THREAD) &&
          check(contains(calls[PURCHASE].data, "\"extInfo\":\"msvc-ext-1\""), "the payment names another purchase"));

  begin("Logout, then CallPay is refused");
  zarn_logout();
  begin_call(&calls[AFTER_LOGOUT]);
  zarn_call_pay("gem_pack_small", ZARN_NTS, "", 0, on_answer, &calls[AFTER_LOGOUT]);
  end_call();
  verdict(expect(&calls[AFTER_LOGOUT], ZARN_NOT_LOGIN, "Not Login.", NULL, INSIDE_THE_CALL));

  begin("Exit: every call answered once, each with its own user pointer");
  zarn_exit();
  zarn_set_log_handler(ZARN_LOG_WARNING, NULL, NULL);
  AcquireSRWLockExclusive(&lock);
  for (int i = 0; i < CALLS; ++i) counted &= check(calls[i].answers == 1, calls[i].name);
  counted &= check(strays == 0, "an answer came with a user pointer no call passed");
  ReleaseSRWLockExclusive(&lock);
  verdict(counted);

  {
    Line line;
    line.length = 0;
    add(&line, "\nSUMMARY: ");
    add_number(&line, passed);
    add(&line, "/");
    add_number(&line, STEPS);
    add(&line, " steps passed");
    emit(&line);
  }
  return passed == STEPS ? 0 : 1;
}

/* The entry point lld-link is given: no C runtime runs before it. */
void GameMain(void) { ExitProcess((unsigned)play()); }
