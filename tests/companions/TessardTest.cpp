#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CompanionTestSupport.h"
#include "tests/support/Capture.h"
#include "tests/support/TempFolder.h"

using namespace companions_test;

namespace {

std::string Utf8(const std::filesystem::path& path) { return reinterpret_cast<const char*>(path.u8string().c_str()); }

// The file's lines, each without its time stamp (the text up to the first tab).
std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line.substr(line.find('\t') + 1));
  }
  return lines;
}

// A trace call from EIDocAtr line 812 at severity 3 for the module it is given.
template <typename... Args>
std::function<void(void*)> At812(Args... args) {
  return [=](void* module) { Trace(3, module, "EIDocAtr", 812, args...); };
}

TEST(TessardTrace, TextsFromResourcesFormatsAndMessages) {
  void* module = TestModule();
  CLogBase::InitImpl(u"", module, CLang::GetResourceHandle(module));
  // A module handle that carries no strings itself, with the test program as its resources.
  static int standIn = 0;
  CLogBase::InitImpl(u"", &standIn, TestModule());
  constexpr std::int32_t kId = kTessardResourceId, kUtf16 = kTessardUtf16;
  constexpr std::int32_t kNarrow = kTessardNarrow, kMessage = kTessardMessage;
  const char16_t* const kNoText = nullptr;
  const struct {
    const char* name;
    void* module;
    std::function<void(void*)> call;
    std::u16string text;
    std::int32_t kind;
    std::uint32_t id;
  } rows[] = {
      {"numbered inserts of a resource string in argument order", module, At812(30709u, 5, 3, u"C:\\Storage\\G1\\Doc7"),
       u"There are less pages (3) in the document C:\\Storage\\G1\\Doc7 than specified in the attributes file (5).",
       kId, 30709},
      {"resource string without inserts", module, At812(14053u), u"Document Group is not available.", kId, 14053},
      {"missing string", module, At812(4242u, u"never read"), u"[string 4242]", kId, 4242},
      // Before start-up there is no module whose strings could be used.
      {"no module", nullptr, At812(14053u), u"[string 14053]", kId, 14053},
      {"resources given at start-up", &standIn, At812(30715u, u"C:\\a.pg"), u"Cannot delete file: C:\\a.pg", kId, 30715},
      {"printf inserts", nullptr,
       At812(u"%s|%hs|%d|%08lx|%c|%%|%u|%x|%X|%lld|%llu|%i|%ld|%lu|%lX", u"Gr\u00fc\u00dfe", "narrow", -42, 0xBEEFUL,
             static_cast<int>(u'\u00e9'), 7u, 255u, 255u, -5LL, 18446744073709551615ULL, 12, -70000L, 4000000000UL, 0xABCUL),
       u"Gr\u00fc\u00dfe|narrow|-42|0000beef|\u00e9|%|7|ff|FF|-5|18446744073709551615|12|-70000|4000000000|ABC", kUtf16, 0},
      {"printf widths and null texts", nullptr,
       At812(u"[%*s][%-4d][%.2s][%03d][%s][%hs]", 5, u"ab", 7, u"xyz", -4, kNoText, static_cast<const char*>(nullptr)),
       u"[   ab][7   ][xy][-04][(null)][(null)]", kUtf16, 0},
      {"narrow format", nullptr, At812("Directory to scan: '%s'", u"C:\\Storage\\Gr\u00fcppe"),
       u"Directory to scan: 'C:\\Storage\\Gr\u00fcppe'", kNarrow, 0},
      {"narrow int", nullptr, At812("%d.pg", 3), u"3.pg", kNarrow, 0},
      {"numbered inserts in a narrow format", nullptr,
       At812("Attempt to access an invalid page #%1!d!. Document has %2!d! pages.", -1, 4),
       u"Attempt to access an invalid page #-1. Document has 4 pages.", kNarrow, 0},
      {"numbered inserts reordered", nullptr, At812(u"%2 before %1, %2 again", u"one", u"two"),
       u"two before one, two again", kUtf16, 0},
      // An argument named by no insert is still taken, so that later ones stay in step.
      {"argument no insert names", nullptr, At812(u"%1 and %3", u"a", u"unused", u"c"), u"a and c", kUtf16, 0},
      // Printf inserts take the numbers that no numbered insert names.
      {"printf and numbered inserts", nullptr, At812(u"%s then %1!d! then %s", 9, u"x", u"y"), u"x then 9 then y", kUtf16, 0},
      {"numbered inserts with printf types", nullptr, At812(u"%1!08lx!|%2!hs!|%3!lu!", 0xBEEFUL, "narrow", 123UL),
       u"0000beef|narrow|123", kUtf16, 0},
      {"message", nullptr, At812(Log::kFileCannotBeOpened, u"C:\\Storage\\G1\\D1\\00000001.pg"),
       u"File C:\\Storage\\G1\\D1\\00000001.pg cannot be opened.", kMessage, 9},
      {"unknown message", nullptr, At812(static_cast<Log::Message>(77), u"unused"), u"[message 77]", kMessage, 77},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    estest::TraceCapture capture;
    row.call(row.module);
    const auto traces = capture.Lines();
    ASSERT_EQ(traces.size(), 1u);
    const auto& t = traces[0];
    EXPECT_EQ(t.text, row.text);
    EXPECT_EQ(std::make_tuple(t.kind, t.id, t.module, t.severity, t.source, t.line),
              std::make_tuple(row.kind, row.id, row.module, 3, std::string("EIDocAtr"), 812));
  }
}

// Each line carries its time in UTC. Texts that look alike must give different lines, and
// no line may carry a raw control character to a terminal; the record's text stays as it is.
TEST(TessardTrace, LineFormatInUtcAndUnambiguousText) {
  const struct {
    std::u16string text;
    std::string line;
  } rows[] = {
      {u"first\r\nsecond\nC:\\dir", "first\\r\\nsecond\\nC:\\\\dir"},
      {u"A\\nB", "A\\\\nB"},  // a literal backslash-n is not a line break
      {u"esc\x1b[2Jbel\x07tab\t", "esc\\x1b[2Jbel\\x07tab\\x09"},
      {u"del\x7f", "del\\x7f"},
      {u"\xdcff\xdc80", "\\xff\\x80"},  // bytes of a file name that is not UTF-8
      {u"\xd800|\x0085|\x202e", "\\ud800|\\u0085|\\u202e"},
      {u"caf\x00e9 \xd83d\xde00", "caf\xc3\xa9 \xf0\x9f\x98\x80"},  // valid text stays as it is
  };
  const auto now = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  };
  for (const auto& row : rows) {
    struct Got { std::int64_t millis; std::string line; std::u16string text; } got{-1, "", u""};
    TessardSetSink([](void* c, const TessardRecord* r) { *static_cast<Got*>(c) = {r->unixMillis, r->lineUtf8, r->text}; },
                   &got);
    const std::int64_t before = now();
    Trace(6, nullptr, "VAVudiImplement", 61, row.text.c_str());
    const std::int64_t after = now();
    TessardSetStderrSink();
    EXPECT_GE(got.millis, before);
    EXPECT_LE(got.millis, after);
    const std::time_t seconds = got.millis / 1000;
    char time[40];
    const std::size_t length = std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", std::gmtime(&seconds));
    std::snprintf(time + length, sizeof time - length, ".%03dZ", static_cast<int>(got.millis % 1000));
    EXPECT_EQ(got.line, std::string(time) + "\tsev=6\tVAVudiImplement:61\t" + row.line);
    EXPECT_EQ(got.text, row.text);
  }
}

TEST(TessardSinks, FileSinkAppendsWholeLinesFromEveryThread) {
  const estest::TempFolder temp;
  temp.Write("t.log", "earlier line\n");
  ASSERT_TRUE(TessardSetFileSink(Utf8(temp / "t.log").c_str()));
  Trace(6, nullptr, "VAVudiImplement", 1, u"one");
  Trace(6, nullptr, "VAVudiImplement", 2, "two\nlines");
  // Each line is on disk as soon as it is traced.
  EXPECT_EQ(ReadLines(temp / "t.log"), (std::vector<std::string>{"earlier line", "sev=6\tVAVudiImplement:1\tone",
                                                                 "sev=6\tVAVudiImplement:2\ttwo\\nlines"}));
  constexpr int kThreads = 4, kTraces = 1000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kTraces; ++i) Trace(6, nullptr, "VAVudiImplement", i, u"thread %d trace %d of %s", t, i, u"many");
    });
  }
  for (auto& thread : threads) thread.join();
  // After the sink is changed the file is left alone.
  TessardSetSink(nullptr, nullptr);
  Trace(6, nullptr, "VAVudiImplement", 3, u"not in the file");
  TessardSetStderrSink();
  const auto lines = ReadLines(temp / "t.log");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(3 + kThreads * kTraces));
  const std::regex pattern(R"(^sev=6\tVAVudiImplement:(\d+)\tthread (\d) trace (\d+) of many$)");
  std::set<std::pair<int, int>> seen;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, pattern)) << lines[i];
    EXPECT_EQ(match[1].str(), match[3].str());
    seen.insert({std::stoi(match[2].str()), std::stoi(match[3].str())});
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kTraces));
  EXPECT_FALSE(TessardSetFileSink(Utf8(temp / "no such folder" / "x" / "t.log").c_str()));
  EXPECT_FALSE(TessardSetFileSink(nullptr));
}

}  // namespace
