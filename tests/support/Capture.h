// Test capture of trace lines and message boxes, and calls through raw vtable slots.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Brivel.h"
#include "Tessard.h"

namespace estest {

struct TraceLine {
  std::int32_t severity;
  void* module;
  std::string source;
  int line;
  std::int32_t kind;
  std::uint32_t id;
  std::u16string text;
};

// Collects trace lines while it lives; the logging layer goes silent afterwards.
class TraceCapture {
 public:
  TraceCapture() { TessardSetSink(&TraceCapture::Sink, this); }
  ~TraceCapture() { TessardSetSink(nullptr, nullptr); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<TraceLine> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<TraceLine> WithId(std::uint32_t id) {
    std::vector<TraceLine> out;
    for (auto& l : Lines())
      if (l.id == id && l.kind == kTessardResourceId) out.push_back(l);
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  static void Sink(void* context, const TessardRecord* r) {
    auto* self = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back(TraceLine{r->severity, r->module, r->source != nullptr ? r->source : "", r->line,
                                     r->kind, r->id, r->text != nullptr ? r->text : u""});
  }
  std::mutex mutex_;
  std::vector<TraceLine> lines_;
};

struct MessageBox {
  std::string op;
  void* owner;
  std::uint32_t id;
  std::u16string text;
  std::uint32_t style;
};

// Answers every message box and help request instead of showing it.
class MessageCapture {
 public:
  explicit MessageCapture(int answer = 1) : answer_(answer) { BrivelSetPresenter(&MessageCapture::Present, this); }
  ~MessageCapture() { BrivelSetPresenter(nullptr, nullptr); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;
  std::vector<MessageBox> boxes;

 private:
  static int Present(void* context, const BrivelEvent* e) {
    auto* self = static_cast<MessageCapture*>(context);
    self->boxes.push_back(MessageBox{e->op, e->owner, e->id, e->text != nullptr ? e->text : u"", e->style});
    return self->answer_;
  }
  int answer_;
};

// Calls operation `slot` of `object`'s table of virtual operations directly, as a host
// built with another compiler would.
template <typename R, typename... A>
R CallSlot(void* object, int slot, A... args) {
  void** table = *reinterpret_cast<void***>(object);
  using Fn = R (*)(void*, A...);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
}

}  // namespace estest
