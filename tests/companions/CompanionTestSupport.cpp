#include "CompanionTestSupport.h"

#include <algorithm>
#include <cstdarg>

#include "Lunmere.h"
#include "resources/ModuleStrings.h"

namespace companions_test {

#ifdef _WIN32
// The test program carries the module's resource script: its own handle serves the strings.
void* TestModule() { return LunmereModuleFromAddress(reinterpret_cast<const void*>(&TestModule)); }
#else
namespace {
int LoadModuleString(std::uint32_t id, char16_t* buffer, int capacity) {
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
}  // namespace

void* TestModule() {
  static LunmereModule module{kLunmereMagic, reinterpret_cast<const void*>(&LoadModuleString),
                              &LoadModuleString};
  static const bool registered = (LunmereRegisterModule(&module), true);
  (void)registered;
  return &module;
}
#endif

TraceCapture::TraceCapture() { TessardSetSink(&TraceCapture::Receive, this); }

TraceCapture::~TraceCapture() { TessardSetStderrSink(); }

std::vector<CapturedTrace> TraceCapture::Traces() {
  std::lock_guard<std::mutex> lock(mutex_);
  return traces_;
}

void TraceCapture::Receive(void* context, const TessardRecord* record) {
  auto* self = static_cast<TraceCapture*>(context);
  CapturedTrace trace;
  trace.unixMillis = record->unixMillis;
  trace.severity = record->severity;
  trace.module = record->module;
  trace.source = record->source != nullptr ? record->source : "";
  trace.line = record->line;
  trace.kind = record->kind;
  trace.id = record->id;
  trace.text = record->text;
  trace.lineUtf8 = record->lineUtf8;
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->traces_.push_back(std::move(trace));
}

BoxCapture::BoxCapture(int button) : button_(button) { BrivelSetPresenter(&BoxCapture::Receive, this); }

BoxCapture::~BoxCapture() { BrivelSetPresenter(nullptr, nullptr); }

std::vector<CapturedBox> BoxCapture::Boxes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

int BoxCapture::Receive(void* context, const BrivelEvent* event) {
  auto* self = static_cast<BoxCapture*>(context);
  CapturedBox box{event->op, event->owner, event->id, event->text != nullptr ? event->text : u"",
                  event->style};
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->boxes_.push_back(std::move(box));
  return self->button_;
}

void TraceText(std::int32_t severity, void* module, const char* source, int line, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, module, source, line, format, args);
  va_end(args);
}

void TraceNarrow(std::int32_t severity, void* module, const char* source, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, module, source, line, format, args);
  va_end(args);
}

void TraceId(std::int32_t severity, void* module, const char* source, int line, std::uint32_t id, ...) {
  va_list args;
  va_start(args, id);
  CLogBase::TraceImpl(severity, module, source, line, id, args);
  va_end(args);
}

void TraceMessage(std::int32_t severity, void* module, const char* source, int line, Log::Message message, ...) {
  va_list args;
  va_start(args, message);
  CLogBase::TraceImpl(severity, module, source, line, message, args);
  va_end(args);
}

}  // namespace companions_test
