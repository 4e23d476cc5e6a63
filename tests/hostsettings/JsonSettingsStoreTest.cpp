// The host's settings store: one JSON file, read when opened and replaced whole on Commit;
// a file it cannot use is reported and left as it is.
#include "JsonSettingsStore.h"

#include <es/HostInterfaces.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "es/Bstr.h"
#include "tests/support/TempFolder.h"

namespace es::host::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// A BSTR made for one call, freed afterwards, as the module passes names.
struct BstrArg {
  explicit BstrArg(std::u16string_view s) : text(es::bstr::Alloc(s.data(), s.size())) {}
  ~BstrArg() { es::bstr::Free(text); }
  BstrArg(const BstrArg&) = delete;
  operator Bstr() const { return text; }
  Bstr text;
};

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string Code(HResult hr) {
  if (hr == kE_NOTFOUND) return "notfound";
  if (hr == kE_FAIL) return "fail";
  if (hr == kE_INVALIDARG) return "invalid";
  return std::to_string(hr);
}

// The three reads of `name` as text, e.g. "b=1 i:fail s:fail": the value of each read that
// succeeds, the result of each that fails. A failed read must leave the caller's value
// alone; a string comes as a BSTR whose byte length sits just before the text.
std::string Reads(ISettingsStore& store, std::u16string_view name) {
  const BstrArg arg(name);
  std::int16_t flag = 77;
  std::int64_t number = 77;
  Bstr text = nullptr;
  const HResult hr[] = {store.GetBool(arg, &flag), store.GetInteger(arg, &number), store.GetString(arg, &text)};
  std::string out;
  const auto note = [&](const char* kind, HResult result, bool untouched, const std::string& value) {
    out += std::string(out.empty() ? "" : " ") + kind + (result == kS_OK ? "=" + value : ":" + Code(result));
    if (result != kS_OK && !untouched) out += "(changed)";
  };
  note("b", hr[0], flag == 77, std::to_string(flag));
  note("i", hr[1], number == 77, std::to_string(number));
  std::string shown = "(null)";
  if (text != nullptr) {
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    shown = Utf8(fs::path(std::u16string(text))) + (bytes == std::char_traits<char16_t>::length(text) * 2 ? "" : "(bad length)");
  }
  note("s", hr[2], text == nullptr, shown);
  es::bstr::Free(text);
  return out;
}

constexpr const char* kNone = "b:notfound i:notfound s:notfound";
constexpr const char* kBroken = "b:fail i:fail s:fail";
const char16_t* const kKnownNames[] = {u"AllowRescanning", u"DeleteFaxes", u"DeleteGroupFolder",
                                       u"SelectedPath",    u"Number of dirs", u"Dir0"};

// One Set call: kind b, i or s, or n for a null BSTR as the value; with the reads of the
// name expected once the file is opened again.
struct Put {
  std::u16string name;
  char kind;
  const char* reads = nullptr;
  std::int64_t number = 0;
  std::u16string text = {};
  HResult expected = kS_OK;
};

HResult Apply(ISettingsStore& store, const Put& put) {
  const BstrArg name(put.name);
  switch (put.kind) {
    case 'b': return store.SetBool(name, static_cast<std::int16_t>(put.number));
    case 'i': return store.SetInteger(name, put.number);
    case 's': return store.SetString(name, BstrArg(put.text));
    default: return store.SetString(name, nullptr);
  }
}

class JsonSettingsStoreTest : public ::testing::Test {
 protected:
  fs::path File() const { return temp_.root / "eshost-settings.json"; }
  // The entries of the folder, to see that no temporary file is left over.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp_.root)) names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
  void Commit(JsonSettingsStore& store) {
    std::string message;
    ASSERT_TRUE(store.Commit(&message)) << message;
  }

  estest::TempFolder temp_{"hostsettings"};
  const std::vector<std::string> onlyTheFile_ = {"eshost-settings.json"};
};

// A missing file is an empty store. Every value set comes back after a Commit and a fresh
// Open, under a non-ASCII path; what the store refuses leaves no trace.
TEST_F(JsonSettingsStoreTest, ValuesSetAreReadBackFromTheFile) {
  const fs::path folder = temp_.root / fs::path(u"Einstellungen \u00E4\u20AC");
  fs::create_directories(folder);
  const fs::path file = folder / fs::path(u"\u00FC.json");
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const char16_t loneSurrogate[] = {u'C', u':', 0xDC80, 0};
  const Put puts[] = {
      {u"AllowRescanning", 'b', "b=0 i:fail s:fail", 0},
      {u"DeleteFaxes", 'b', "b=1 i:fail s:fail", -2},  // any non-zero is true
      {u"DeleteGroupFolder", 'b', "b=1 i:fail s:fail", 1},
      {u"SelectedPath", 's', "b:fail i:fail s=C:\\Scans\\Stra\u00DFe \u20AC \U0001F4C4", 0,
       u"C:\\Scans\\Stra\u00DFe \u20AC \U0001F4C4"},
      {u"Number of dirs", 'i', "b:fail i=2 s:fail", 2},
      {u"Dir0", 's', "b:fail i:fail s=%USERPROFILE%\\ES", 0, u"%USERPROFILE%\\ES"},
      {u"Dir1", 'n', "b:fail i:fail s="},  // a null BSTR is empty text, as in COM
      {u"Smallest", 'i', "b:fail i=-9223372036854775808 s:fail", kMin},
      {u"Largest", 'i', "b:fail i=9223372036854775807 s:fail", kMax},
      {u"Zoom", 'i', nullptr, 3},
      {u"Zoom", 's', "b:fail i:fail s=big", 0, u"big"},  // unknown names may change type
      // A known name keeps its type, or the file would not open again.
      {u"DeleteFaxes", 'i', nullptr, 1, u"", kE_FAIL},
      {u"Number of dirs", 'b', nullptr, 1, u"", kE_FAIL},
      {u"AllowRescanning", 's', nullptr, 0, u"1", kE_FAIL},
      {u"Dir4", 'i', kNone, 1, u"", kE_FAIL},
      // Text that UTF-8 cannot hold is refused, as a value and as a name.
      {u"Dir0", 's', nullptr, 0, loneSurrogate, kE_INVALIDARG},
      {loneSurrogate, 'b', "b:invalid i:invalid s:invalid", 1, u"", kE_INVALIDARG},
  };
  {
    auto store = JsonSettingsStore::Open(file);
    EXPECT_FALSE(store->HasError()) << store->Error();
    for (const char16_t* name : kKnownNames) EXPECT_EQ(kNone, Reads(*store, name)) << Utf8(name);
    EXPECT_FALSE(fs::exists(file)) << "opening must not create the file";
    for (const Put& put : puts) EXPECT_EQ(put.expected, Apply(*store, put)) << Utf8(put.name) << " " << put.kind;
    Commit(*store);
  }
  auto store = JsonSettingsStore::Open(file);
  ASSERT_FALSE(store->HasError()) << store->Error();
  for (const Put& put : puts) {
    if (put.reads == nullptr) continue;
    EXPECT_EQ(put.reads, Reads(*store, put.name)) << Utf8(put.name);
  }
}

// Commit replaces the whole file with pretty, sorted text that users can edit by hand (the
// switches are JSON booleans). Names the store does not know keep whatever the file holds,
// also values no Set makes.
TEST_F(JsonSettingsStoreTest, CommitReplacesTheFileAndKeepsUnknownKeys) {
  Json expected = Json::parse(R"({"Window": {"x": 10, "y": -4, "tabs": ["a", "b"]}, "Zoom": 1.25,
      "Huge": 18446744073709551615, "Comment": "kept \u00e9", "Nothing": null, "DeleteFaxes": true})");
  temp_.Write(File(), expected.dump());
  for (std::int64_t round = 1; round <= 3; ++round) {
    auto store = JsonSettingsStore::Open(File());
    ASSERT_FALSE(store->HasError()) << store->Error();
    EXPECT_EQ(round == 1 ? kNone : "b:fail i=" + std::to_string(round - 1) + " s:fail", Reads(*store, u"Number of dirs"));
    EXPECT_EQ(kBroken, Reads(*store, u"Zoom"));
    EXPECT_EQ(kBroken, Reads(*store, u"Huge"));
    EXPECT_EQ("b:fail i:fail s=kept \u00e9", Reads(*store, u"Comment"));
    for (const Put& put : {Put{u"Number of dirs", 'i', nullptr, round}, Put{u"SelectedPath", 's', nullptr, 0, u"D:\\in"},
                           Put{u"AllowRescanning", 'b', nullptr, 1}, Put{u"DeleteFaxes", 'b', nullptr, 0}})
      EXPECT_EQ(kS_OK, Apply(*store, put));
    Commit(*store);
  }
  EXPECT_EQ(onlyTheFile_, Listing());
  expected.update({{"Number of dirs", 3}, {"SelectedPath", "D:\\in"}, {"AllowRescanning", true}, {"DeleteFaxes", false}});
  EXPECT_EQ(expected.dump(2) + "\n", temp_.Read(File()));
}

TEST_F(JsonSettingsStoreTest, UnusableFilesAreRefusedAndKept) {
  const struct {
    std::string bytes;
    const char* reason;  // what the error says after the file name; null: the file is usable
    const char* mentions = "";
  } rows[] = {
      {"{ \"AllowRescanning\": tru", "not valid JSON: ", "line 1"},
      {"", "not valid JSON"},
      {"{\"a\": 1} {\"b\": 2}", "not valid JSON"},
      {"{\"a\": \"\xC3\x28\"}", "not valid JSON"},  // malformed UTF-8
      {"[true, false]", "the settings must be one JSON object, found a list"},
      {"\"DeleteFaxes\"", "the settings must be one JSON object, found a string"},
      {"{\"Window\": " + std::string(100000, '[') + std::string(100000, ']') + "}", "values are nested more than"},
      {R"({"AllowRescanning": true, "DeleteFaxes": "yes"})", R"("DeleteFaxes" must be true or false, found a string)"},
      {R"({"DeleteGroupFolder": 1})", R"("DeleteGroupFolder" must be true or false, found the number 1)"},
      {R"({"Number of dirs": 2.5})", R"("Number of dirs" must be a whole number)"},
      {R"({"Number of dirs": 9223372036854775808})", R"("Number of dirs" must be a whole number)"},
      {R"({"Number of dirs": "2"})", R"("Number of dirs" must be a whole number)"},
      {R"({"SelectedPath": null})", R"("SelectedPath" must be a string, found null)"},
      {R"({"Dir12": ["C:\\a"]})", R"("Dir12" must be a string, found a list)"},
      // "Dir" alone, "DirX" and "dir0" are not entry names; case matters.
      {R"({"Dir": 1, "DirX": true, "dir0": 5, "Dir0x": null})", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes.substr(0, 60));
    temp_.Write(File(), row.bytes);
    auto store = JsonSettingsStore::Open(File());
    if (row.reason == nullptr) {
      EXPECT_FALSE(store->HasError()) << store->Error();
      continue;
    }
    ASSERT_TRUE(store->HasError());
    EXPECT_EQ(store->Error().rfind(Utf8(File()) + ": " + row.reason, 0), 0u) << store->Error();
    EXPECT_NE(store->Error().find(row.mentions), std::string::npos) << store->Error();
    for (const char16_t* name : kKnownNames) EXPECT_EQ(kBroken, Reads(*store, name));
    EXPECT_LT(store->SetBool(BstrArg(u"AllowRescanning"), 1), 0);
    std::string message;
    EXPECT_FALSE(store->Commit(&message));
    EXPECT_NE(message.find(store->Error()), std::string::npos) << message;
    EXPECT_EQ(row.bytes, temp_.Read(File()));
    EXPECT_EQ(onlyTheFile_, Listing());
  }
}

// A failed commit leaves no file behind: when the folder is missing, and when something
// else took the name meanwhile (the temporary file is written, the rename fails).
TEST_F(JsonSettingsStoreTest, FailedCommitsLeaveNoTrace) {
  const fs::path missing = temp_.root / "missing" / "eshost-settings.json";
  for (const auto& [file, says] : {std::pair{missing, ": cannot be written"}, {File(), ": cannot be replaced"}}) {
    auto store = JsonSettingsStore::Open(file);
    ASSERT_FALSE(store->HasError()) << store->Error();
    EXPECT_EQ(kS_OK, store->SetBool(BstrArg(u"DeleteFaxes"), 1));
    if (file == File()) temp_.Write(File() / "inside", "x");
    std::string message;
    EXPECT_FALSE(store->Commit(&message));
    EXPECT_EQ(message.rfind(Utf8(file) + says, 0), 0u) << message;
  }
  EXPECT_EQ(onlyTheFile_, Listing()) << "only the folder that took the name";
  EXPECT_TRUE(fs::is_directory(File()));
}

// The module reaches the store through fixed slots, not through C++ names; it gets E_POINTER
// for a null out-pointer, and the last Release frees the store.
template <typename... Args>
HResult Slot(ISettingsStore* self, int slot, Args... args) {
  void** table = *reinterpret_cast<void***>(self);
  return reinterpret_cast<HResult (*)(ISettingsStore*, Args...)>(table[slot])(self, args...);
}

TEST_F(JsonSettingsStoreTest, OperationsSitInTheirSlots) {
  const int before = JsonSettingsStore::LiveObjects();
  ISettingsStore* self = JsonSettingsStore::Open(File()).release();
  EXPECT_EQ(before + 1, JsonSettingsStore::LiveObjects());
  const BstrArg faxes(u"DeleteFaxes"), dirs(u"Number of dirs"), dir0(u"Dir0"), x(u"x");
  EXPECT_EQ(kS_OK, (Slot<Bstr, std::int16_t>(self, 20, faxes, 1)));
  EXPECT_EQ(kS_OK, (Slot<Bstr, std::int64_t>(self, 18, dirs, -3)));
  EXPECT_EQ(kS_OK, (Slot<Bstr, Bstr>(self, 17, dir0, x)));
  std::int16_t flag = 0;
  std::int64_t number = 0;
  Bstr text = nullptr;
  EXPECT_EQ(kS_OK, (Slot<Bstr, std::int16_t*>(self, 15, faxes, &flag)));
  EXPECT_EQ(kS_OK, (Slot<Bstr, std::int64_t*>(self, 13, dirs, &number)));
  EXPECT_EQ(kS_OK, (Slot<Bstr, Bstr*>(self, 12, dir0, &text)));
  EXPECT_EQ(1, flag);
  EXPECT_EQ(-3, number);
  EXPECT_EQ(u"x", std::u16string(text ? text : u"(null)"));
  es::bstr::Free(text);
  EXPECT_EQ(kE_POINTER, (Slot<Bstr, std::int16_t*>(self, 15, faxes, nullptr)));
  EXPECT_EQ(kE_POINTER, (Slot<Bstr, std::int64_t*>(self, 13, dirs, nullptr)));
  EXPECT_EQ(kE_POINTER, (Slot<Bstr, Bstr*>(self, 12, dir0, nullptr)));
  for (int slot : {3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 16, 19}) EXPECT_EQ(kE_NOTIMPL, Slot<>(self, slot)) << slot;

  EXPECT_EQ(2u, self->AddRef());
  void* object = nullptr;
  EXPECT_EQ(kS_OK, self->QueryInterface(kIID_ISettingsStore, &object));
  EXPECT_EQ(self, object);
  EXPECT_EQ(kS_OK, self->QueryInterface(kIID_IUnknown, &object));
  const EsGuid other = {0x5B35E7D1, 0x1FDE, 0x4D43, {0xA5, 0xF7, 0xB0, 0x2E, 0xDF, 0x0E, 0xB7, 0x08}};
  EXPECT_EQ(kE_NOINTERFACE, self->QueryInterface(other, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(kE_POINTER, self->QueryInterface(kIID_ISettingsStore, nullptr));
  for (std::uint32_t left : {3u, 2u, 1u}) EXPECT_EQ(left, self->Release());
  EXPECT_EQ(before + 1, JsonSettingsStore::LiveObjects());
  EXPECT_EQ(0u, self->Release());
  EXPECT_EQ(before, JsonSettingsStore::LiveObjects());
}

}  // namespace
}  // namespace es::host::test
