// The logging layer: turns each trace into one line and hands it to the chosen sink.
#include "Tessard.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "Inserts.h"
#include "Lunmere.h"
#include "LunmereUtf8.h"

namespace {

// Room for the longest string resource (LoadStringW's limit is far below).
constexpr int kStringCapacity = 4096;

// Texts of the layer's own messages; they use numbered inserts like string resources.
struct MessageText {
  std::int32_t number;
  const char16_t* text;
};
constexpr MessageText kMessages[] = {
    {Log::kFileCannotBeOpened, u"File %1 cannot be opened."},
};

enum class SinkKind { kStderr, kFile, kCallback, kSilent };

struct State {
  std::recursive_mutex mutex;  // a sink may trace in turn
  SinkKind kind = SinkKind::kStderr;
  std::FILE* file = nullptr;
  TessardSinkFn fn = nullptr;
  void* context = nullptr;

  std::mutex modulesMutex;
  std::map<void*, void*> resourcesByModule;

  std::mutex threadsMutex;
  std::map<std::thread::id, std::u16string> threads;
};

State& GlobalState() {
  // Never destroyed: threads and static destructors of other modules may still trace.
  static State* state = new State;
  return *state;
}

// 2026-12-06T14:03:07.123Z
std::string FormatTime(std::int64_t unixMillis) {
  using namespace std::chrono;
  const sys_time<milliseconds> time{milliseconds{unixMillis}};
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> clock{time - day};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return buffer;
}

std::int64_t NowMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::u16string Bracketed(const char* what, std::uint32_t number) {
  return lunmere::Utf8ToUtf16(std::string("[") + what + " " + std::to_string(number) + "]");
}

void Emit(std::int64_t unixMillis, std::int32_t severity, void* module, const char* source, int line,
          TessardTextKind kind, std::uint32_t id, const std::u16string& text) {
  std::string formatted = FormatTime(unixMillis);
  formatted += "\tsev=" + std::to_string(severity) + "\t";
  formatted += source != nullptr ? source : "";
  formatted += ":" + std::to_string(line) + "\t";
  // One trace is one line, and every text reads back unambiguously.
  formatted += lunmere::EscapeForLine(text);

  TessardRecord record{};
  record.unixMillis = unixMillis;
  record.severity = severity;
  record.module = module;
  record.source = source;
  record.line = line;
  record.kind = kind;
  record.id = id;
  record.text = text.c_str();
  record.lineUtf8 = formatted.c_str();

  State& state = GlobalState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  switch (state.kind) {
    case SinkKind::kStderr:
      formatted += '\n';
      std::fputs(formatted.c_str(), stderr);
      std::fflush(stderr);
      break;
    case SinkKind::kFile:
      formatted += '\n';
      std::fputs(formatted.c_str(), state.file);
      std::fflush(state.file);
      break;
    case SinkKind::kCallback:
      state.fn(state.context, &record);
      break;
    case SinkKind::kSilent:
      break;
  }
}

void* ResourcesOf(void* module) {
  State& state = GlobalState();
  std::lock_guard<std::mutex> lock(state.modulesMutex);
  const auto found = state.resourcesByModule.find(module);
  return found != state.resourcesByModule.end() ? found->second : module;
}

// Closes a file sink being replaced. Called with the sink mutex held.
void CloseFile(State& state) {
  if (state.file != nullptr) std::fclose(state.file);
  state.file = nullptr;
}

std::FILE* OpenForAppend(const char* path) {
#ifdef _WIN32
  const std::u16string wide = lunmere::Utf8ToUtf16(path);
  return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"ab");
#else
  return std::fopen(path, "ab");
#endif
}

}  // namespace

void CLogBase::InitImpl(const char16_t* name, void* module, void* resources) {
  State& state = GlobalState();
  std::lock_guard<std::mutex> lock(state.modulesMutex);
  state.resourcesByModule[module] = resources;
}

void CLogBase::TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                         const char16_t* format, va_list args) {
  const std::int64_t now = NowMillis();
  const std::u16string text =
      format != nullptr ? tessard::FillInserts(format, tessard::InsertSyntax::kMixed, args) : u"(null)";
  Emit(now, severity, module, source, line, kTessardUtf16, 0, text);
}

void CLogBase::TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                         const char* format, va_list args) {
  const std::int64_t now = NowMillis();
  const std::u16string text =
      format != nullptr
          ? tessard::FillInserts(lunmere::Utf8ToUtf16(format), tessard::InsertSyntax::kMixed, args)
          : u"(null)";
  Emit(now, severity, module, source, line, kTessardNarrow, 0, text);
}

void CLogBase::TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                         std::uint32_t id, va_list args) {
  const std::int64_t now = NowMillis();
  void* resources = ResourcesOf(module);
  std::u16string text;
  // A null handle would make LoadStringW search the process's executable: a module that
  // has not started up has no strings of its own yet.
  int length = 0;
  char16_t buffer[kStringCapacity];
  if (resources != nullptr) length = LunmereLoadString(resources, id, buffer, kStringCapacity);
  if (length > 0) {
    text = tessard::FillInserts(std::u16string_view(buffer, static_cast<std::size_t>(length)),
                                tessard::InsertSyntax::kNumbered, args);
  } else {
    text = Bracketed("string", id);
  }
  Emit(now, severity, module, source, line, kTessardResourceId, id, text);
}

void CLogBase::TraceImpl(std::int32_t severity, void* module, const char* source, int line,
                         Log::Message message, va_list args) {
  const std::int64_t now = NowMillis();
  std::u16string text = Bracketed("message", static_cast<std::uint32_t>(message));
  for (const MessageText& entry : kMessages) {
    if (entry.number == message) text = tessard::FillInserts(entry.text, tessard::InsertSyntax::kNumbered, args);
  }
  Emit(now, severity, module, source, line, kTessardMessage, static_cast<std::uint32_t>(message), text);
}

std::int32_t KVInitW(const char16_t* name, std::int32_t number, void* module) {
  State& state = GlobalState();
  std::lock_guard<std::mutex> lock(state.threadsMutex);
  // A thread registers once; registering again only renames it.
  state.threads[std::this_thread::get_id()] = name != nullptr ? name : u"";
  return 0;
}

std::int32_t KVExit(void* module) {
  State& state = GlobalState();
  std::lock_guard<std::mutex> lock(state.threadsMutex);
  state.threads.erase(std::this_thread::get_id());
  return 0;
}

std::int32_t TessardRegisteredThreads() {
  State& state = GlobalState();
  std::lock_guard<std::mutex> lock(state.threadsMutex);
  return static_cast<std::int32_t>(state.threads.size());
}

void TessardSetSink(TessardSinkFn fn, void* context) {
  State& state = GlobalState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  CloseFile(state);
  state.kind = fn != nullptr ? SinkKind::kCallback : SinkKind::kSilent;
  state.fn = fn;
  state.context = context;
}

bool TessardSetFileSink(const char* path) {
  if (path == nullptr) return false;
  std::FILE* file = OpenForAppend(path);
  if (file == nullptr) return false;
  State& state = GlobalState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  CloseFile(state);
  state.kind = SinkKind::kFile;
  state.file = file;
  state.fn = nullptr;
  state.context = nullptr;
  return true;
}

void TessardSetStderrSink() {
  State& state = GlobalState();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  CloseFile(state);
  state.kind = SinkKind::kStderr;
  state.fn = nullptr;
  state.context = nullptr;
}
