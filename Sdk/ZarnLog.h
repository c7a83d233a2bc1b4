// Logging for the whole SDK: every line is written `LOG(LEVEL) << ...` (INFO, WARNING, ERROR,
// DEBUG) and goes to two destinations, each with its own rules.
//
// The file log: easylogging++'s logger "default", format "%datetime [%level]: %msg", appended
// to "zarnlog.log" in the process's working directory (and standard output, the library's
// default). Off from the library's load until a start-up reply marks the device as a test
// device (InitSdk switches it off at its start). It keeps each text as written: GBK bytes,
// tokens, tickets, request and reply bodies.
//
// The game's log handler (SetLogHandler, the C interface's zarn_set_log_handler): lines at or
// above the level the game asked for, whether or not the file log is on, each as one line of
// UTF-8 (line breaks become spaces, GBK texts are converted) in which every Secret that is not
// empty reads "***". It is called on the thread that logged, never under a lock of the SDK's or
// of the logger's: the file write is done and its lock released first, and a line logged while
// the thread holds an SDK Mutex reaches the handler when the thread lets go of its last one.
// Lines that the handler's own SDK calls cause are not handed to it. An exception from it ends
// only its call.
//
// Process exit: StopLoggingForExit closes a gate that every line passes. Once it has returned,
// no line reaches easylogging++ or the game's handler from any thread, SDK or game: static
// destructors then tear down the logger's storage and the game's objects while threads may
// still run. Lines inside the file log when the gate closes are waited for (no game code runs
// there, only formatting and one write); handler calls under way are not.
#pragma once

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

// The SDK's LOG below replaces the logging library's macro of that name.
#include <easylogging++.h>
#undef LOG

namespace ZarnSdk {

// The C interface's ZARN_LOG_* values.
enum class LogLevel : int32_t { Debug = 0, Info = 1, Warning = 2, Error = 3 };

// A text the file log keeps but the game's handler never sees: tokens, Steam tickets, the app
// key, and whole request and reply bodies, which carry them.
struct Secret {
  std::string_view text;
};

// A text in Chinese, part of the interface: written to the file as its GBK (code page 936)
// bytes, spelled as byte escapes next to a comment with their meaning; converted to UTF-8 for
// the game's handler.
struct GbkText {
  const char* bytes;
};

// (Re)configures the "default" logger: library defaults, format "%datetime [%level]: %msg" for
// every level, every level enabled or not, and the flag NewLineForContainer. While enabled, the
// lines are appended to "zarnlog.log", created with owner-only access and never through a
// symbolic link. Safe to call from any thread while others log.
void ConfigureLogger(bool enabled);

// The game's handler: called with a ZARN_LOG_* level, the message (valid during the call) and
// `user`. Null removes it. `minLevel` below Debug counts as Debug. Any thread, at any time.
// Called from outside a handler, it returns once every call of the previous handler on other
// threads has returned, so the game may then free what `user` points to; from inside a handler
// it returns at once.
using LogHandler = void (*)(int32_t level, const char* message, void* user);
void SetLogHandler(int32_t minLevel, LogHandler handler, void* user);

// The process is ending: see above. Pass `threadsAreGone` when every other thread has been
// ended (Windows' process termination): nothing is waited for then. Once, from the exit path.
void StopLoggingForExit(bool threadsAreGone);

// Whether a line at `level` has somewhere to go; its operands are not evaluated otherwise.
bool LogWanted(LogLevel level) noexcept;

// One line, handed on by its destructor at the end of the LOG statement.
class LogLine {
 public:
  explicit LogLine(LogLevel level);
  ~LogLine();
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;

  // Texts and integers are appended as they are; anything else as a stream prints it.
  template <class T>
  LogLine& operator<<(const T& value) {
    if constexpr (std::is_same_v<T, char>) {
      Append(std::string_view(&value, 1));
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      Append(std::string_view(value));
    } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
      char digits[24];
      Append(std::string_view(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits)));
    } else {
      std::ostringstream text;
      text << value;
      Append(text.str());
    }
    return *this;
  }
  LogLine& operator<<(Secret secret);
  LogLine& operator<<(GbkText text);

 private:
  void Append(std::string_view text) {
    if (toFile_) file_ += text;
    if (toGame_) game_ += text;
  }

  LogLevel level_;
  bool toFile_;
  bool toGame_;
  std::string file_;
  std::string game_;
};

struct LogStatement {
  void operator&(const LogLine&) const {}
};

}  // namespace ZarnSdk

#define ZARN_SDK_LOG_AT(level) \
  !::ZarnSdk::LogWanted(level) ? (void)0 : ::ZarnSdk::LogStatement() & ::ZarnSdk::LogLine(level)
#define ZARN_SDK_LOG_DEBUG ZARN_SDK_LOG_AT(::ZarnSdk::LogLevel::Debug)
#define ZARN_SDK_LOG_INFO ZARN_SDK_LOG_AT(::ZarnSdk::LogLevel::Info)
#define ZARN_SDK_LOG_WARNING ZARN_SDK_LOG_AT(::ZarnSdk::LogLevel::Warning)
#define ZARN_SDK_LOG_ERROR ZARN_SDK_LOG_AT(::ZarnSdk::LogLevel::Error)
#define LOG(LEVEL) ZARN_SDK_LOG_##LEVEL
