// Shared by the companion tests: the test program as a module with the module's strings,
// and a capture of trace records with their time and line.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Brivel.h"
#include "Lunmere.h"
#include "Tessard.h"
#include "resources/ModuleStrings.h"

namespace companions_test {

#ifdef _WIN32
// The test program carries the module's resource script: its own handle serves the strings.
inline void* TestModule() { return LunmereModuleFromAddress(reinterpret_cast<const void*>(&TestModule)); }
#else
inline int LoadModuleString(std::uint32_t id, char16_t* buffer, int capacity) {
  for (unsigned i = 0; i < es::resources::kStringCount; ++i) {
    if (es::resources::kStrings[i].id != id) continue;
    const std::u16string text = es::resources::kStrings[i].text;
    const int length = std::min(static_cast<int>(text.size()), capacity - 1);
    text.copy(buffer, static_cast<std::size_t>(length));
    buffer[length] = 0;
    return length;
  }
  return 0;
}
// The instance handle of the test program, whose strings are the module's string table.
inline void* TestModule() {
  static LunmereModule module{kLunmereMagic, reinterpret_cast<const void*>(&LoadModuleString), &LoadModuleString};
  static const bool registered = (LunmereRegisterModule(&module), true);
  (void)registered;
  return &module;
}
#endif

// Routes trace records into memory for its lifetime, then back to stderr.
class TraceCapture {
 public:
  struct Trace {
    std::int64_t unixMillis;
    std::int32_t severity;
    void* module;
    std::string source;
    std::int32_t line, kind;
    std::uint32_t id;
    std::u16string text;
    std::string lineUtf8;
  };
  TraceCapture() { TessardSetSink(&Receive, this); }
  ~TraceCapture() { TessardSetStderrSink(); }
  std::vector<Trace> Traces() {
    std::lock_guard<std::mutex> lock(mutex_);
    return traces_;
  }

 private:
  static void Receive(void* context, const TessardRecord* r) {
    auto* self = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->traces_.push_back({r->unixMillis, r->severity, r->module, r->source != nullptr ? r->source : "", r->line,
                             r->kind, r->id, r->text, r->lineUtf8});
  }
  std::mutex mutex_;
  std::vector<Trace> traces_;
};

// A variadic front end, as the module's trace facade calls the layer; `Format` is a
// UTF-16 or narrow format text, a resource id or a Log::Message.
template <typename Format>
void Trace(std::int32_t severity, void* module, const char* source, int line, Format format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, module, source, line, format, args);
  va_end(args);
}

}  // namespace companions_test
