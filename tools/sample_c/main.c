/* zarn-sample-game-c: zarn-sample-game's walk through the SDK, in C99 against the C interface
 * (zarnsdk.h) alone, with the same step report and SUMMARY line. Every answer comes through one
 * callback that finds its call through the user pointer; the main thread waits with a deadline.
 * The SDK's warnings and errors come through its log handler, as an engine's console gets them. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "sync.h"
#include "zarnsdk.h"

#define STEPS 12
#define INDENT "        "

/* One SDK call and its first answer. The callback fills it under the sync lock; the main thread
 * reads it once `answers` is non-zero, after which only `answers` changes (a second answer). */
typedef struct Call {
  const char* name;
  int answers, on_main_thread;
  int32_t code;
  long at_ms;
  char *msg, *data;
} Call;

/* Never freed: an answer that arrives while the program ends still finds its call. */
static Call init_call = {.name = "Init"}, login_call = {.name = "Login"}, products_call = {.name = "QueryProducts"},
            pay_call = {.name = "CallPay"}, refusal_call = {.name = "CallPay after Logout"};
static int exit_returned; /* guarded by the sync lock */

static const char *app_id = "1001", *app_key = "zarn-demo-key", *wanted_product, *product_id = "";
static int decline, started, passed, failed, skipped;
static double timeout_s = 20;
static long step_began;
static char first_product[128], ids[512];

static char* copy(const char* text) {
  const size_t size = strlen(text != NULL ? text : "") + 1;
  char* out = malloc(size);
  if (out == NULL) abort();
  memcpy(out, text != NULL ? text : "", size);
  return out;
}

/* On whatever thread the SDK chooses. msg and data are the SDK's only during this call. */
static void on_answer(int32_t code, const char* msg, const char* data, void* user) {
  Call* call = user;
  char *msg_copy = copy(msg), *data_copy = copy(data);
  sync_lock();
  if (call->answers++ == 0) {
    call->code = code, call->msg = msg_copy, call->data = data_copy;
    call->on_main_thread = sync_on_main_thread(), call->at_ms = sync_now_ms();
    msg_copy = data_copy = NULL;
  }
  sync_notify();
  sync_unlock();
  free(msg_copy);
  free(data_copy);
}

/* On whatever thread logged; the message is the SDK's only during this call. */
static void on_sdk_log(int32_t level, const char* message, void* user) {
  (void)user;
  printf(INDENT "SDK %s: %s\n", level >= ZARN_LOG_ERROR ? "error" : "warning", message);
  fflush(stdout);
}

static void header(const char* title) { printf("\n[%2d/%d] %s\n", ++started, STEPS, title); }
static void begin(const char* format, ...) {
  char title[256];
  va_list args;
  va_start(args, format);
  vsnprintf(title, sizeof title, format, args);
  va_end(args);
  header(title);
  fflush(stdout);
  step_began = sync_now_ms();
}
static void note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs(INDENT, stdout);
  vprintf(format, args);
  va_end(args);
  putchar('\n');
}
static void pass(void) {
  ++passed;
  printf(INDENT "PASS (%ld ms)\n", sync_now_ms() - step_began);
  fflush(stdout);
}
static void fail(const char* format, ...) {
  va_list args;
  ++failed;
  printf(INDENT "FAIL (%ld ms): ", sync_now_ms() - step_began);
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  putchar('\n');
  fflush(stdout);
}
static void skip(const char* title, const char* reason) {
  header(title);
  ++skipped;
  printf(INDENT "SKIPPED: %s\n", reason);
}

static long deadline(void) { return sync_now_ms() + (long)(timeout_s * 1000 + 0.999); }

/* Waits for the call's answer and shows it; on time-out fails the step, naming `what`. */
static int await(Call* call, const char* what) {
  const long until = deadline();
  int answered;
  sync_lock();
  while (call->answers == 0 && sync_wait_until(until)) continue;
  answered = call->answers > 0;
  sync_unlock();
  if (!answered) {
    fail("no %s within %g s", what, timeout_s);
    return 0;
  }
  printf(INDENT "callback: code %d, msg \"%s\", %s, after %ld ms\n", (int)call->code, call->msg,
         call->on_main_thread ? "on the calling thread" : "on an SDK thread", call->at_ms - step_began);
  printf(INDENT "data: %s\n", call->data[0] != '\0' ? call->data : "(empty)");
  return 1;
}
static int await_ok(Call* call, const char* what) {
  if (!await(call, what)) return 0;
  if (call->code == ZARN_OK) return 1;
  fail("expected code 200, got %d \"%s\"", (int)call->code, call->msg);
  return 0;
}

/* Where the value of the first member `key` at or after `from` starts; NULL when there is none.
 * A plain scan that is enough for the SDK's and the mock's JSON; a game uses its JSON parser. */
static const char* member(const char* from, const char* key) {
  char quoted[64];
  snprintf(quoted, sizeof quoted, "\"%s\"", key);
  while (from != NULL && (from = strstr(from, quoted)) != NULL) {
    from += strspn(from + strlen(quoted), " \t\r\n") + strlen(quoted);
    if (*from == ':') return from + 1 + strspn(from + 1, " \t\r\n");
  }
  return NULL;
}
/* The string member's text (no escapes in ids) into `out`; past it, or NULL when none. */
static const char* text_member(const char* from, const char* key, char* out, size_t size) {
  const char* at = member(from, key);
  size_t n;
  if (at == NULL || *at++ != '"') return NULL;
  n = strcspn(at, "\"");
  snprintf(out, size, "%.*s", (int)n, at);
  return at + n;
}

static int query_catalogue(void) {
  const char* at;
  char id[128];
  int count = 0, listed = 0;
  begin("QueryProducts");
  zarn_query_products(on_answer, &products_call);
  if (!await_ok(&products_call, "QueryProducts callback")) return 0;
  if ((at = member(products_call.data, "productList")) == NULL || (*at != '[' && strncmp(at, "null", 4) != 0)) {
    fail("the data is not a product list");
    return 0;
  }
  while ((at = text_member(at, "productId", id, sizeof id)) != NULL) {
    if (count++ == 0) snprintf(first_product, sizeof first_product, "%s", id);
    listed |= wanted_product != NULL && strcmp(id, wanted_product) == 0;
    snprintf(ids + strlen(ids), sizeof ids - strlen(ids), "%s%s", count > 1 ? ", " : "", id);
  }
  note("catalogue, %d product(s): %s", count, ids);
  if (count == 0) {
    fail("the catalogue is empty: nothing to buy");
    return 0;
  }
  product_id = wanted_product != NULL ? wanted_product : first_product;
  if (wanted_product == NULL || listed) {
    note("will buy \"%s\"", product_id);
  } else {
    note("\"%s\" is not in the catalogue; buying it anyway to show the SDK's answer", product_id);
  }
  pass();
  return 1;
}

static void buy_product(void) {
  const int want = decline ? 0 : 1;
  char ext[64], got_product[128] = "(missing)", got_ext[64] = "(missing)";
  const char* status;
  char* end = NULL;
  snprintf(ext, sizeof ext, "zarn-sample-game-c/%ld", (long)time(NULL));
  begin("CallPay(\"%s\") until the payment result", product_id);
  note("extInfo \"%s\"; expecting status %d (%s)", ext, want, decline ? "declined" : "paid");
  zarn_call_pay(product_id, ZARN_NTS, ext, ZARN_NTS, on_answer, &pay_call);
  if (!await_ok(&pay_call, "payment callback (order, Steam authorisation, payment result)")) return;
  if ((status = member(pay_call.data, "status")) == NULL || strtol(status, &end, 10) != want || end == status) {
    fail("expected \"status\" %d, got %.*s", want, status ? (int)strcspn(status, ",}") : 9, status ? status : "(missing)");
    return;
  }
  text_member(pay_call.data, "productId", got_product, sizeof got_product);
  text_member(pay_call.data, "extInfo", got_ext, sizeof got_ext);
  if (strcmp(got_product, product_id) != 0 || strcmp(got_ext, ext) != 0) {
    fail("the payment data names another purchase: productId %s, extInfo %s", got_product, got_ext);
    return;
  }
  pass();
}

static void run_exit(void) {
  zarn_exit();
  sync_lock();
  exit_returned = 1;
  sync_notify();
  sync_unlock();
}

/* 0 when Exit had not returned by the deadline: a thread is still inside the SDK. */
static int exit_sdk(void) {
  Call* calls[] = {&init_call, &login_call, &products_call, &pay_call, &refusal_call};
  char extra[256] = "";
  size_t i;
  int returned;
  long until;
  begin("Exit");
  until = deadline();
  /* Exit waits for the SDK's workers: run it aside, so a stuck shutdown is reported, not a hang. */
  if (!sync_start_thread(run_exit)) run_exit();
  sync_lock();
  while (!exit_returned && sync_wait_until(until)) continue;
  returned = exit_returned;
  for (i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
    if (calls[i]->answers < 2) continue;
    snprintf(extra + strlen(extra), sizeof extra - strlen(extra), "%s%s x%d", extra[0] ? ", " : "", calls[i]->name,
             calls[i]->answers - 1);
  }
  sync_unlock();
  if (!returned) {
    fail("Exit did not return within %g s", timeout_s);
  } else if (extra[0] != '\0') {
    fail("callbacks beyond the one answer each call gives: %s", extra);
  } else {
    pass();
  }
  return returned;
}

static int parse_command_line(int argc, char** argv) {
  int i;
  for (i = 1; i < argc; ++i) {
    const char *arg = argv[i], *value = i + 1 < argc ? argv[i + 1] : NULL;
    char* end = NULL;
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) return 1;
    if (strcmp(arg, "--decline") == 0) {
      decline = 1;
      continue;
    }
    if (strcmp(arg, "--product") && strcmp(arg, "--app-id") && strcmp(arg, "--app-key") && strcmp(arg, "--timeout")) {
      fprintf(stderr, "%s: unknown argument \"%s\"\n", argv[0], arg);
      return 2;
    }
    if (value == NULL || *value == '\0') {
      fprintf(stderr, "%s: %s needs a value\n", argv[0], arg);
      return 2;
    }
    ++i;
    if (strcmp(arg, "--product") == 0) wanted_product = value;
    if (strcmp(arg, "--app-id") == 0) app_id = value;
    if (strcmp(arg, "--app-key") == 0) app_key = value;
    if (strcmp(arg, "--timeout") == 0 && (timeout_s = strtod(value, &end), *end || !(timeout_s > 0 && timeout_s <= 86400))) {
      fprintf(stderr, "%s: --timeout needs a positive number of seconds, got \"%s\"\n", argv[0], value);
      return 2;
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  const char* const later[] = {"SetServerId, SetGameUserId, SetNickName, SetLevel", "PostEvent (custom event)",
                               "PostEvent qzk_user_create", "PostEvent qzk_level_achieved", "Login", "QueryProducts",
                               "IsPayAvailable after Init", "CallPay", "Logout"};
  char params[128];
  int parsed = parse_command_line(argc, argv), status, login_ok = 0, chosen = 0, available;
  size_t i;
  if (parsed != 0) {
    fprintf(parsed == 1 ? stdout : stderr, "Usage: %s [--product ID] [--decline] [--app-id ID] [--app-key KEY] "
            "[--timeout SECONDS]\n", argv[0]);
    return parsed == 1 ? 0 : 2;
  }
  sync_setup();
  zarn_set_log_handler(ZARN_LOG_WARNING, on_sdk_log, NULL);
  printf("zarn-sample-game-c: SDK %s, app id \"%s\", %s, %g s per step\n", zarn_version(), app_id,
         decline ? "expecting the purchase to be declined" : "expecting the purchase to go through", timeout_s);

  begin("IsPayAvailable before Init");
  note("answer: %s", (available = zarn_is_pay_available()) ? "true" : "false");
  available ? fail("expected false: payment cannot be available before the SDK is started") : pass();

  begin("Init(appId \"%s\")", app_id);
  zarn_init(app_id, ZARN_NTS, app_key, ZARN_NTS, on_answer, &init_call);
  if (await_ok(&init_call, "Init callback")) {
    pass();
    begin("SetServerId, SetGameUserId, SetNickName, SetLevel");
    zarn_set_server_id("sample-server-1", ZARN_NTS);
    zarn_set_game_user_id("sample-hero-0001", ZARN_NTS);
    zarn_set_nick_name("Sample Hero", ZARN_NTS);
    zarn_set_level(7);
    note("server \"sample-server-1\", game user \"sample-hero-0001\", nickname \"Sample Hero\", level 7");
    pass();
    begin("PostEvent tutorial_finished (custom event)");
    zarn_post_event("tutorial_finished", ZARN_NTS, "{\"stage\":\"intro\",\"tries\":1}", ZARN_NTS, 1.0);
    note("params {\"stage\":\"intro\",\"tries\":1}, value 1; sent as \"qzk_self_tutorial_finished\", no reply expected");
    pass();
    begin("PostEvent qzk_user_create");
    snprintf(params, sizeof params, "{\"nickname\":\"Sample Hero\",\"registerTime\":%ld000}", (long)time(NULL));
    zarn_post_event("qzk_user_create", ZARN_NTS, params, ZARN_NTS, 0.0);
    note("params %s, no reply expected", params);
    pass();
    begin("PostEvent qzk_level_achieved");
    zarn_post_event("qzk_level_achieved", ZARN_NTS, "{\"level\":7}", ZARN_NTS, 7.0);
    note("params {\"level\":7}, value 7, no reply expected");
    pass();

    begin("Login");
    zarn_login(on_answer, &login_call);
    if ((login_ok = await_ok(&login_call, "Login callback (Steam ticket, then server login)"))) pass();
    chosen = query_catalogue();
    begin("IsPayAvailable after Init");
    note("answer: %s", (available = zarn_is_pay_available()) ? "true" : "false");
    available ? pass() : fail("expected true: the Steam overlay, which the purchase dialog needs, is reported off");
    if (login_ok && chosen) {
      buy_product();
    } else {
      skip("CallPay", login_ok ? "no product to buy" : "Login did not succeed");
    }
    if (login_ok) {
      begin("Logout, then CallPay must be refused");
      zarn_logout();
      zarn_call_pay(product_id[0] ? product_id : "any", ZARN_NTS, "", 0, on_answer, &refusal_call);
      if (await(&refusal_call, "refusal of CallPay after Logout")) {
        if (refusal_call.code == ZARN_NOT_LOGIN && strcmp(refusal_call.msg, "Not Login.") == 0) {
          pass();
        } else {
          fail("expected -405 \"Not Login.\", got %d \"%s\"", (int)refusal_call.code, refusal_call.msg);
        }
      }
    } else {
      skip("Logout", "Login did not succeed");
    }
  } else {
    for (i = 0; i < sizeof later / sizeof later[0]; ++i) skip(later[i], "Init did not succeed");
  }
  const int exit_returned_in_time = exit_sdk();
  if (exit_returned_in_time) zarn_set_log_handler(ZARN_LOG_WARNING, NULL, NULL);

  printf("\nSUMMARY: %d/%d steps passed", passed, STEPS);
  if (failed > 0 || skipped > 0) printf(" (%d failed, %d skipped)", failed, skipped);
  printf("\n");
  status = passed == STEPS ? 0 : 1;
  fflush(NULL);
  /* A thread still inside zarn_exit: leave without running the library's destructors under it. */
  if (!exit_returned_in_time) _Exit(status);
  return status;
}
