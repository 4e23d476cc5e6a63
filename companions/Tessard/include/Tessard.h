// Logging layer: trace lines of every component, written to a sink the host chooses.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace Log {
enum Severity : std::int32_t {};
enum Message : std::int32_t {
  kFileCannotBeOpened = 9,  // one insert: the file's path
};
}  // namespace Log

class CLogBase {
 public:
  // Once per module at start-up: name (may be empty), instance handle, resource module.
  static void InitImpl(const char16_t* name, void* module, void* resources);

  // Format inserts: printf style (%s takes const char16_t*, %hs const char*, %d, %u,
  // %x, %ld, %lx, %08lx, %c, %%) and FormatMessage style (%1, %2!d!, %3!s!). A string
  // resource id is looked up in the resource module given to InitImpl for `module`.
  //
  // Arguments are read in argument-number order: a numbered insert names its number, a
  // printf insert takes the next number no numbered insert names. A numbered insert
  // without !fmt! takes a const char16_t*. In format texts %1..%99 are always numbered
  // inserts, so a printf width starts with a flag or a star (%08lx, %-5s, %*s).
  // String resources and messages know only numbered inserts and the FormatMessage
  // escapes (%%, %n, %r, %t, %0). A missing string gives "[string <id>]", an unknown
  // message "[message <n>]".
  static void TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                        const char16_t* format, va_list args);
  static void TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                        const char* format, va_list args);
  static void TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                        std::uint32_t id, va_list args);
  static void TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                        Log::Message message, va_list args);
};

// Register a thread with the logging layer for its lifetime.
std::int32_t KVInitW(const char16_t* name, std::int32_t number, void* module);
std::int32_t KVExit(void* module);

// ---- For hosts and tests ---------------------------------------------------------
// How the text of a line was given.
enum TessardTextKind : std::int32_t {
  kTessardUtf16 = 0,
  kTessardNarrow = 1,
  kTessardResourceId = 2,
  kTessardMessage = 3,
};

struct TessardRecord {
  std::int64_t unixMillis;   // time of the call
  std::int32_t severity;
  void* module;              // as passed by the caller
  const char* source;
  std::int32_t line;
  std::int32_t kind;         // TessardTextKind
  std::uint32_t id;          // resource id or message number; 0 for format texts
  const char16_t* text;      // the formatted text
  // The whole line without its line end: TIME<TAB>sev=N<TAB>SOURCE:LINE<TAB>TEXT, TIME
  // in UTC (2026-12-06T14:03:07.123Z), TEXT in UTF-8 escaped as lunmere::EscapeForLine
  // does: \\ for a backslash, \r and \n, \xNN for control characters and for each byte of
  // a file name that is not UTF-8, so that no two texts give the same line.
  const char* lineUtf8;
};

// A sink is called under the layer's lock, one record at a time; `text` and `lineUtf8`
// are valid only during the call.

using TessardSinkFn = void (*)(void* context, const TessardRecord* record);

// Lines go to stderr until a sink is set. A null function silences the layer.
void TessardSetSink(TessardSinkFn fn, void* context);
// Appends lines to a file (UTF-8, one line per trace); false when it cannot be opened.
bool TessardSetFileSink(const char* path);
void TessardSetStderrSink();
// Threads registered with KVInitW and not yet ended with KVExit.
std::int32_t TessardRegisteredThreads();
