#include "frame/Trace.h"

#include <cstdarg>

namespace es {

void* traceModuleHandle = nullptr;

void Trace(std::int32_t severity, const char* source, int line, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, format, args);
  va_end(args);
}

void Trace(std::int32_t severity, const char* source, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, format, args);
  va_end(args);
}

void Trace(std::int32_t severity, const char* source, int line, std::uint32_t stringId, ...) {
  va_list args;
  va_start(args, stringId);
  CLogBase::TraceImpl(severity, traceModuleHandle, source, line, stringId, args);
  va_end(args);
}

void Trace(std::int32_t severity, const char* source, int line, Log::Message message, ...) {
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
