// Shared by the companion tests: the test program as a module with the module's strings,
// and captures of trace lines and message boxes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Brivel.h"
#include "Tessard.h"

namespace companions_test {

// The instance handle of the test program, whose strings are the module's string table.
void* TestModule();

struct CapturedTrace {
  std::int64_t unixMillis = 0;
  std::int32_t severity = 0;
  void* module = nullptr;
  std::string source;
  std::int32_t line = 0;
  std::int32_t kind = 0;
  std::uint32_t id = 0;
  std::u16string text;
  std::string lineUtf8;
};

// Routes trace lines into memory for its lifetime, then back to stderr.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;
  std::vector<CapturedTrace> Traces();

 private:
  static void Receive(void* context, const TessardRecord* record);
  std::mutex mutex_;
  std::vector<CapturedTrace> traces_;
};

struct CapturedBox {
  std::string op;
  void* owner = nullptr;
  std::uint32_t id = 0;
  std::u16string text;
  std::uint32_t style = 0;
};

// Takes the place of the message boxes for its lifetime and answers `button`.
class BoxCapture {
 public:
  explicit BoxCapture(int button);
  ~BoxCapture();
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;
  std::vector<CapturedBox> Boxes();

 private:
  static int Receive(void* context, const BrivelEvent* event);
  int button_;
  std::mutex mutex_;
  std::vector<CapturedBox> boxes_;
};

// Variadic front ends, as the module's trace facade calls the layer.
void TraceText(std::int32_t severity, void* module, const char* source, int line, const char16_t* format, ...);
void TraceNarrow(std::int32_t severity, void* module, const char* source, int line, const char* format, ...);
void TraceId(std::int32_t severity, void* module, const char* source, int line, std::uint32_t id, ...);
void TraceMessage(std::int32_t severity, void* module, const char* source, int line, Log::Message message, ...);

}  // namespace companions_test
