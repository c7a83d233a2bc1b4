/* The Zarn Steam SDK's C interface: the same twelve operations as the C++ functions of
 * ZarnProxy.h, callable from any language that can call C (C, C# through P/Invoke, Rust, Python,
 * an engine's plugin layer) and from C++ built with any compiler: no C++ type, allocator or
 * destructor crosses this boundary.
 *
 * Strings in: UTF-8 bytes with an explicit length, so a value may hold any byte, U+0000
 * included; pass ZARN_NTS as the length for a NUL-terminated string. Invalid UTF-8 is replaced
 * by U+FFFD. The SDK copies what it needs before the call returns.
 *
 * Results: through a zarn_callback, with the caller's `user` pointer handed back unchanged.
 * `msg` and `data` are NUL-terminated UTF-8 owned by the SDK and valid only during the call;
 * copy them to keep them. The same rules as the C++ interface hold: every function may be
 * called from any thread and returns without waiting for the network; a callback is called at
 * most once per call, never when it is NULL; it may run on the calling thread (immediate
 * refusals) or on one of the SDK's threads (server replies, Steam results).
 */
#ifndef ZARNSDK_H
#define ZARNSDK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZARN_SDK_BUILDING)
#    define ZARN_C_API __declspec(dllexport)
#  else
#    define ZARN_C_API __declspec(dllimport)
#  endif
#else
#  define ZARN_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The length of a NUL-terminated string. */
#define ZARN_NTS ((size_t)-1)

/* Result codes (the server's own codes are passed through as they are). */
#define ZARN_OK 200
#define ZARN_PROCESS_EXIT (-400)      /* "Process Exit!" (login after exit) */
#define ZARN_PRODUCT_NOT_FOUND (-400) /* "Not Found Product." (purchase) */
#define ZARN_NOT_INIT (-401)          /* "Sdk Not Init." */
#define ZARN_STEAM_INIT_FAILURE (-402) /* "Steam Init Failure!" */
#define ZARN_TICKET_TIMEOUT (-403)    /* "Steam Ticket TimeOut!" */
#define ZARN_TICKET_AUTH_FAILURE (-404) /* "Steam Ticket Auth Failure!" */
#define ZARN_NOT_LOGIN (-405)         /* "Not Login." */
#define ZARN_BAD_REPLY (-501)         /* the server's reply could not be read */
#define ZARN_HTTP_FAILURE (-502)      /* unreachable server, TLS failure, HTTP status not 200 */

typedef void (*zarn_callback)(int32_t code, const char* msg, const char* data, void* user);

/* The SDK's version, e.g. "2.0.0"; a static string. */
ZARN_C_API const char* zarn_version(void);

ZARN_C_API void zarn_init(const char* app_id, size_t app_id_len, const char* app_key, size_t app_key_len,
                          zarn_callback callback, void* user);
ZARN_C_API void zarn_login(zarn_callback callback, void* user);
ZARN_C_API void zarn_logout(void);
ZARN_C_API void zarn_query_products(zarn_callback callback, void* user);
ZARN_C_API void zarn_call_pay(const char* product_id, size_t product_id_len, const char* ext_info,
                              size_t ext_info_len, zarn_callback callback, void* user);
/* 1 when Steam's overlay, which shows purchases, is available; else 0. */
ZARN_C_API int32_t zarn_is_pay_available(void);
/* `params`: a JSON object as text, or empty. `value`: NaN for none; JSON has no infinity, so any
 * value that is not finite (NaN, +/-infinity) sends the event without one. */
ZARN_C_API void zarn_post_event(const char* name, size_t name_len, const char* params, size_t params_len, double value);
ZARN_C_API void zarn_set_server_id(const char* value, size_t value_len);
ZARN_C_API void zarn_set_game_user_id(const char* value, size_t value_len);
ZARN_C_API void zarn_set_nick_name(const char* value, size_t value_len);
ZARN_C_API void zarn_set_level(int32_t level);
ZARN_C_API void zarn_exit(void);

/* Log levels, least severe first. */
#define ZARN_LOG_DEBUG 0
#define ZARN_LOG_INFO 1
#define ZARN_LOG_WARNING 2
#define ZARN_LOG_ERROR 3

/* One of the SDK's log lines. `message`: one line of UTF-8, the SDK's and valid only during the
 * call; it never holds a session token, a Steam ticket or the app key. Called on the thread that
 * logged (the game's or one of the SDK's), never while the SDK holds a lock of its own: it may
 * call the SDK (what those calls log is not handed back to it). It should return quickly. */
typedef void (*zarn_log_fn)(int32_t level, const char* message, void* user);

/* Hands the SDK's log lines at `min_level` and above to `fn`, for the engine's console, whether
 * or not the SDK's own log file (test devices only) is on. May be called at any time, before
 * zarn_init included; NULL removes the handler. Called from outside a handler, it returns once
 * every call of the previous handler on other threads has returned, so `user` may be freed then.
 * The handler is not called any more once the process has begun to exit. */
ZARN_C_API void zarn_set_log_handler(int32_t min_level, zarn_log_fn fn, void* user);

#ifdef __cplusplus
}
#endif

#endif /* ZARNSDK_H */
