#include "base/Trace.h"

#include <cstdarg>
#include <map>
#include <utility>

namespace es {

void* traceModuleHandle = nullptr;

struct TraceRepeatLimit::Places {
  struct Place {
    std::int32_t severity = 0;
    int written = 0;
    long long leftOut = 0;
  };
  std::map<std::pair<const char*, int>, Place> at;
};

namespace {

// The limit of the innermost scope on this thread, if any.
thread_local TraceRepeatLimit::Places* repeatPlaces = nullptr;

// True when the line is to be counted instead of written.
bool LeftOut(std::int32_t severity, const char* source, int line) {
  if (repeatPlaces == nullptr) return false;
  auto& place = repeatPlaces->at[{source, line}];
  place.severity = severity;
  if (place.written < TraceRepeatLimit::kShown) {
    ++place.written;
    return false;
  }
  ++place.leftOut;
  return true;
}

}  // namespace

TraceRepeatLimit::TraceRepeatLimit() : outer_(repeatPlaces), places_(std::make_unique<Places>()) {
  repeatPlaces = places_.get();
}

TraceRepeatLimit::~TraceRepeatLimit() {
  repeatPlaces = outer_;
  for (const auto& [where, place] : places_->at) {
    if (place.leftOut == 0) continue;
    Trace(place.severity, where.first, where.second, u"... and %d more lines like the one before from here",
          static_cast<int>(place.leftOut > 0x7FFFFFFF ? 0x7FFFFFFF : place.leftOut));
  }
}

void trace_detail::TraceList(std::int32_t severity, const char* source, int line, const char16_t* format, ...) {
  if (LeftOut(severity, source, line)) return;
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, format, args);
  va_end(args);
}

void trace_detail::TraceList(std::int32_t severity, const char* source, int line, const char* format, ...) {
  if (LeftOut(severity, source, line)) return;
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, format, args);
  va_end(args);
}

void trace_detail::TraceList(std::int32_t severity, const char* source, int line, std::uint32_t stringId, ...) {
  if (LeftOut(severity, source, line)) return;
  va_list args;
  va_start(args, stringId);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, stringId, args);
  va_end(args);
}

void trace_detail::TraceList(std::int32_t severity, const char* source, int line, Log::Message message, ...) {
  if (LeftOut(severity, source, line)) return;
  va_list args;
  va_start(args, message);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, message, args);
  va_end(args);
}

// Not a tail call: the message library finds the module's strings from the return address.
__attribute__((optimize("no-optimize-sibling-calls"))) void ShowWarning(IScanningCallback* callback, WindowHandle parent, std::uint32_t stringId, int line) {
  if (callback != nullptr && callback->IsUnattended()) {
    Trace(kSevSkipped, kSourceFrame, line, stringId);
  } else {
    MessageBoxId(parent, stringId, kErrorIconStyle);
  }
}

}  // namespace es
