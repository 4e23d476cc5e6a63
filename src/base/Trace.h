// The module's facade over the logging layer and the UI-controls library: every trace
// line carries the module handle, a source name and a line number.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "Brivel.h"
#include "Tessard.h"
#include "base/TraceFormat.h"
#include "es/HostInterfaces.h"

namespace es {

// Severities the module uses.
inline constexpr std::int32_t kSevSkipped = 2;   // an item could not be used; the import goes on
inline constexpr std::int32_t kSevError = 3;     // details of errors
inline constexpr std::int32_t kSevProgress = 6;  // progress and unexpected exceptions
inline constexpr std::int32_t kSevLayout = 7;    // dialog layout detail

// Source names carried by trace lines.
inline constexpr char kSourceFrame[] = "VAVudiImplement";
inline constexpr char kSourceConfigure[] = "DlgCfg";
inline constexpr char kSourceAttributes[] = "EIDocAtr";

// Style of every message box of the import: the error icon.
inline constexpr std::uint32_t kErrorIconStyle = 16;

// The module's instance handle; null until start-up sets it, never changed afterwards.
extern void* traceModuleHandle;

// The calls the facade hands to the logging layer, as they are: arguments in a C argument
// list. Only Trace below calls them, after the compiler has checked the arguments.
namespace trace_detail {
void TraceList(std::int32_t severity, const char* source, int line, const char16_t* format, ...);
void TraceList(std::int32_t severity, const char* source, int line, const char* format, ...);
void TraceList(std::int32_t severity, const char* source, int line, std::uint32_t stringId, ...);
void TraceList(std::int32_t severity, const char* source, int line, Log::Message message, ...);
}  // namespace trace_detail

// A trace line with a format text: printf inserts (%s a UTF-16 text or Str, %hs a narrow
// text, %d int, %u and %x unsigned, %ld long) and numbered ones (%1, %2!d!). The compiler
// checks every argument against the insert that reads it.
template <typename... Args>
void Trace(std::int32_t severity, const char* source, int line,
           TraceText<char16_t, std::type_identity_t<Args>...> format, const Args&... args) {
  trace_detail::TraceList(severity, source, line, format.text, trace_format::Pass(args)...);
}
template <typename... Args>
void Trace(std::int32_t severity, const char* source, int line, TraceText<char, std::type_identity_t<Args>...> format,
           const Args&... args) {
  trace_detail::TraceList(severity, source, line, format.text, trace_format::Pass(args)...);
}
// A string resource or a logging-layer message: their texts are not known here, so each
// argument is checked only to be something an insert reads.
template <typename... Args>
void Trace(std::int32_t severity, const char* source, int line, std::uint32_t stringId, const Args&... args) {
  static_assert(trace_format::Insertable(trace_format::Kinds<Args...>::values, sizeof...(Args)),
                "a trace argument an insert cannot read");
  trace_detail::TraceList(severity, source, line, stringId, trace_format::Pass(args)...);
}
template <typename... Args>
void Trace(std::int32_t severity, const char* source, int line, Log::Message message, const Args&... args) {
  static_assert(trace_format::Insertable(trace_format::Kinds<Args...>::values, sizeof...(Args)),
                "a trace argument an insert cannot read");
  trace_detail::TraceList(severity, source, line, message, trace_format::Pass(args)...);
}

// Within its scope, trace lines from one place of the code (source and line) beyond the
// first kShown are counted instead of written, and the end of the scope writes one line
// per such place with the count: a damaged file cannot make the trace grow without bound.
// Scopes nest; each counts on its own thread.
class TraceRepeatLimit {
 public:
  static constexpr int kShown = 10;
  TraceRepeatLimit();
  ~TraceRepeatLimit();
  TraceRepeatLimit(const TraceRepeatLimit&) = delete;
  TraceRepeatLimit& operator=(const TraceRepeatLimit&) = delete;

 public:
  struct Places;  // the counts of one scope; defined where they are kept

 private:
  Places* outer_;
  std::unique_ptr<Places> places_;
};

// A warning of the import: a message box owned by `parent`, or, when the host runs
// unattended, a trace line of severity 2 with the same string and no inserts.
void ShowWarning(IScanningCallback* callback, WindowHandle parent, std::uint32_t stringId, int line);

// Help topics of the dialogs: the dialog template id plus this base.
inline constexpr std::uint32_t kHelpTopicBase = 0x20000;

}  // namespace es
