// The host's settings store: one JSON file, read when opened and replaced whole on Commit;
// a file it cannot use is reported and left as it is.
#include "JsonSettingsStore.h"

#include <es/HostInterfaces.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
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
class BstrArg {
 public:
  explicit BstrArg(std::u16string_view text) : text_(es::bstr::Alloc(text.data(), text.size())) {}
  ~BstrArg() { es::bstr::Free(text_); }
  BstrArg(const BstrArg&) = delete;
  operator Bstr() const { return text_; }

 private:
  Bstr text_;
};

// A BSTR received from the store; freed with the platform's BstrFree.
class BstrOut {
 public:
  BstrOut() = default;
  ~BstrOut() { es::bstr::Free(text_); }
  BstrOut(const BstrOut&) = delete;
  Bstr* operator&() { return &text_; }
  Bstr get() const { return text_; }
  std::u16string str() const { return text_ != nullptr ? std::u16string(text_) : std::u16string(); }

 private:
  Bstr text_ = nullptr;
};

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Names of the entries of a folder, to see that no temporary file is left over.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(Utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

const std::vector<std::string> kOnlyTheFile = {"eshost-settings.json"};

// Each test works in a fresh folder under the system's temporary folder.
class JsonSettingsStoreTest : public ::testing::Test {
 protected:
  const fs::path& Dir() const { return dir_; }
  fs::path File() const { return dir_ / "eshost-settings.json"; }

  // Every Get of every known name fails with a negative result and hands out nothing.
  static void ExpectEveryGetFails(JsonSettingsStore& store) {
    for (const char16_t* name :
         {u"AllowRescanning", u"DeleteFaxes", u"DeleteGroupFolder", u"SelectedPath", u"Number of dirs", u"Dir0"}) {
      BstrArg arg(name);
      BstrOut text;
      std::int64_t number = 77;
      std::int16_t flag = 77;
      EXPECT_LT(store.GetString(arg, &text), 0);
      EXPECT_EQ(text.get(), nullptr);
      EXPECT_LT(store.GetInteger(arg, &number), 0);
      EXPECT_LT(store.GetBool(arg, &flag), 0);
      EXPECT_EQ(number, 77) << "a failed read must leave the caller's value alone";
      EXPECT_EQ(flag, 77);
    }
  }

 private:
  estest::TempFolder temp_{"hostsettings"};
  const fs::path dir_ = temp_.root;
};

TEST_F(JsonSettingsStoreTest, MissingFileIsAnEmptyStore) {
  auto store = JsonSettingsStore::Open(File());
  EXPECT_FALSE(store->HasError()) << store->Error();
  ExpectEveryGetFails(*store);
  std::int16_t flag = 0;
  EXPECT_EQ(store->GetBool(BstrArg(u"AllowRescanning"), &flag), kE_NOTFOUND);
  EXPECT_FALSE(fs::exists(File())) << "opening must not create the file";
}

TEST_F(JsonSettingsStoreTest, RoundTripOfAllThreeTypesUnderANonAsciiPath) {
  const fs::path folder = Dir() / fs::path(u"Einstellungen \u00E4\u20AC");
  fs::create_directories(folder);
  const fs::path file = folder / fs::path(u"\u00FC.json");
  const std::u16string path = u"C:\\Scans\\Stra\u00DFe \u20AC \U0001F4C4";
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  {
    auto store = JsonSettingsStore::Open(file);
    EXPECT_EQ(store->SetBool(BstrArg(u"AllowRescanning"), 0), kS_OK);
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), -2), kS_OK);  // any non-zero is true
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteGroupFolder"), 1), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), BstrArg(path)), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Number of dirs"), 2), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"Dir0"), BstrArg(u"%USERPROFILE%\\ES")), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"Dir1"), BstrArg(u"")), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Smallest"), kMin), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Largest"), kMax), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  auto store = JsonSettingsStore::Open(file);
  ASSERT_FALSE(store->HasError()) << store->Error();
  for (const auto& [name, value] : {std::pair{u"AllowRescanning", 0}, {u"DeleteFaxes", 1}, {u"DeleteGroupFolder", 1}}) {
    std::int16_t flag = 7;
    EXPECT_EQ(store->GetBool(BstrArg(name), &flag), kS_OK);
    EXPECT_EQ(flag, value);
  }
  for (const auto& [name, value] : {std::pair{u"Number of dirs", std::int64_t{2}}, {u"Smallest", kMin}, {u"Largest", kMax}}) {
    std::int64_t number = 0;
    EXPECT_EQ(store->GetInteger(BstrArg(name), &number), kS_OK);
    EXPECT_EQ(number, value);
  }
  for (const auto& [name, value] : {std::pair{u"SelectedPath", path}, {u"Dir0", u"%USERPROFILE%\\ES"}, {u"Dir1", u""}}) {
    BstrOut text;
    EXPECT_EQ(store->GetString(BstrArg(name), &text), kS_OK);
    ASSERT_NE(text.get(), nullptr) << "an empty value is an empty string, not a missing one";
    EXPECT_EQ(text.str(), value);
  }
}

TEST_F(JsonSettingsStoreTest, CommitReplacesTheFileWithPrettySortedText) {
  for (std::int64_t round = 1; round <= 3; ++round) {
    auto store = JsonSettingsStore::Open(File());
    ASSERT_FALSE(store->HasError()) << store->Error();
    std::int64_t number = 0;
    if (round > 1) {
      EXPECT_EQ(store->GetInteger(BstrArg(u"Number of dirs"), &number), kS_OK);
      EXPECT_EQ(number, round - 1);
    }
    EXPECT_EQ(store->SetInteger(BstrArg(u"Number of dirs"), round), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), BstrArg(u"D:\\in")), kS_OK);
    EXPECT_EQ(store->SetBool(BstrArg(u"AllowRescanning"), 1), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  EXPECT_EQ(Listing(Dir()), kOnlyTheFile);
  // The switches are JSON booleans, so that users can edit the file by hand.
  EXPECT_EQ(ReadFile(File()),
            "{\n"
            "  \"AllowRescanning\": true,\n"
            "  \"Number of dirs\": 3,\n"
            "  \"SelectedPath\": \"D:\\\\in\"\n"
            "}\n");
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
    WriteFile(File(), row.bytes);
    auto store = JsonSettingsStore::Open(File());
    if (row.reason == nullptr) {
      EXPECT_FALSE(store->HasError()) << store->Error();
      continue;
    }
    ASSERT_TRUE(store->HasError());
    EXPECT_EQ(store->Error().rfind(Utf8(File()) + ": " + row.reason, 0), 0u) << store->Error();
    EXPECT_NE(store->Error().find(row.mentions), std::string::npos) << store->Error();
    ExpectEveryGetFails(*store);
    EXPECT_LT(store->SetBool(BstrArg(u"AllowRescanning"), 1), 0);
    std::string message;
    EXPECT_FALSE(store->Commit(&message));
    EXPECT_NE(message.find(store->Error()), std::string::npos) << message;
    EXPECT_EQ(ReadFile(File()), row.bytes);
    EXPECT_EQ(Listing(Dir()), kOnlyTheFile);
  }
}

TEST_F(JsonSettingsStoreTest, UnknownKeysSurviveACommit) {
  const Json others = Json::parse(R"({
    "Window": {"x": 10, "y": -4, "tabs": ["a", "b"]},
    "Zoom": 1.25,
    "Comment": "kept \u00e9",
    "Nothing": null
  })");
  Json file = others;
  file["DeleteFaxes"] = true;
  WriteFile(File(), file.dump());
  {
    auto store = JsonSettingsStore::Open(File());
    ASSERT_FALSE(store->HasError()) << store->Error();
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 0), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  Json expected = others;
  expected["DeleteFaxes"] = false;
  EXPECT_EQ(Json::parse(ReadFile(File())), expected);
}

TEST_F(JsonSettingsStoreTest, WrongTypeOnGetOrSetFails) {
  WriteFile(File(), R"({"SelectedPath": "x", "Zoom": 1.5, "Huge": 18446744073709551615, "Flag": true})");
  auto store = JsonSettingsStore::Open(File());
  ASSERT_FALSE(store->HasError()) << store->Error();
  std::int64_t number = 5;
  std::int16_t flag = 5;
  BstrOut text;
  EXPECT_EQ(store->GetInteger(BstrArg(u"SelectedPath"), &number), kE_FAIL);
  EXPECT_EQ(store->GetInteger(BstrArg(u"Zoom"), &number), kE_FAIL);
  EXPECT_EQ(store->GetInteger(BstrArg(u"Huge"), &number), kE_FAIL);
  EXPECT_EQ(store->GetBool(BstrArg(u"SelectedPath"), &flag), kE_FAIL);
  EXPECT_EQ(store->GetString(BstrArg(u"Flag"), &text), kE_FAIL);
  EXPECT_EQ(text.get(), nullptr);
  EXPECT_EQ(number, 5);
  EXPECT_EQ(flag, 5);

  // A known name keeps its type, or the file would not open again.
  EXPECT_EQ(store->SetInteger(BstrArg(u"DeleteFaxes"), 1), kE_FAIL);
  EXPECT_EQ(store->SetBool(BstrArg(u"Number of dirs"), 1), kE_FAIL);
  EXPECT_EQ(store->SetString(BstrArg(u"AllowRescanning"), BstrArg(u"1")), kE_FAIL);
  EXPECT_EQ(store->SetInteger(BstrArg(u"Dir4"), 1), kE_FAIL);
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteFaxes"), &flag), kE_NOTFOUND);
  // Unknown names may change type.
  EXPECT_EQ(store->SetString(BstrArg(u"Zoom"), BstrArg(u"big")), kS_OK);
  EXPECT_EQ(store->GetString(BstrArg(u"Zoom"), &text), kS_OK);
  EXPECT_EQ(text.str(), u"big");
}

TEST_F(JsonSettingsStoreTest, ArgumentsAndBstrs) {
  auto store = JsonSettingsStore::Open(File());
  EXPECT_EQ(store->GetString(BstrArg(u"SelectedPath"), nullptr), kE_POINTER);
  EXPECT_EQ(store->GetInteger(BstrArg(u"Number of dirs"), nullptr), kE_POINTER);
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteFaxes"), nullptr), kE_POINTER);
  EXPECT_EQ(store->QueryInterface(kIID_ISettingsStore, nullptr), kE_POINTER);
  // A null BSTR is empty text, as in COM.
  EXPECT_EQ(store->SetString(BstrArg(u"Dir1"), nullptr), kS_OK);
  BstrOut empty;
  EXPECT_EQ(store->GetString(BstrArg(u"Dir1"), &empty), kS_OK);
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(empty.str(), u"");

  // Text that UTF-8 cannot hold is refused, as a value and as a name.
  const char16_t loneSurrogate[] = {u'C', u':', 0xDC80, 0};
  EXPECT_EQ(store->SetString(BstrArg(u"Dir0"), BstrArg(loneSurrogate)), kE_INVALIDARG);
  EXPECT_EQ(store->SetBool(BstrArg(loneSurrogate), 1), kE_INVALIDARG);
  std::int16_t flag = 0;
  EXPECT_EQ(store->GetBool(BstrArg(u"Dir0"), &flag), kE_NOTFOUND);

  const std::u16string value = u"E:\\Storage \U0001F4C1";
  EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), BstrArg(value)), kS_OK);
  for (int i = 0; i < 3; ++i) {
    Bstr text = nullptr;
    ASSERT_EQ(store->GetString(BstrArg(u"SelectedPath"), &text), kS_OK);
    ASSERT_NE(text, nullptr);
    // The byte length sits just before the text, as in every BSTR.
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    EXPECT_EQ(bytes, value.size() * sizeof(char16_t));
    EXPECT_EQ(std::u16string(text), value);
    es::bstr::Free(text);
  }
  std::string message;
  EXPECT_TRUE(store->Commit(&message)) << message;
}

TEST_F(JsonSettingsStoreTest, FailedCommitsLeaveNoTrace) {
  const fs::path missing = Dir() / "missing" / "eshost-settings.json";
  auto store = JsonSettingsStore::Open(missing);
  ASSERT_FALSE(store->HasError()) << store->Error();
  EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(missing) + ": cannot be written", 0), 0u) << message;
  EXPECT_TRUE(Listing(Dir()).empty());

  // Something else took the name meanwhile: the temporary file is written, the rename fails.
  store = JsonSettingsStore::Open(File());
  EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  fs::create_directory(File());
  WriteFile(File() / "inside", "x");
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(File()) + ": cannot be replaced", 0), 0u) << message;
  EXPECT_EQ(Listing(Dir()), kOnlyTheFile);
  EXPECT_TRUE(fs::is_directory(File()));
}

TEST_F(JsonSettingsStoreTest, CommitIntoAReadOnlyFolderKeepsTheOldFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the read-only attribute of a Windows folder does not stop creating files in it";
#else
  const std::string old = R"({"DeleteFaxes": true})";
  WriteFile(File(), old);
  auto store = JsonSettingsStore::Open(File());
  ASSERT_FALSE(store->HasError()) << store->Error();
  EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 0), kS_OK);
  fs::permissions(Dir(), fs::perms::owner_read | fs::perms::owner_exec);
  if (std::ofstream probe(Dir() / "probe"); probe.is_open()) {
    probe.close();
    fs::remove(Dir() / "probe");
    GTEST_SKIP() << "this user may write into folders without write permission (root)";
  }
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(File()) + ": cannot be written", 0), 0u) << message;
  EXPECT_EQ(ReadFile(File()), old);
  EXPECT_EQ(Listing(Dir()), kOnlyTheFile);
#endif
}

TEST_F(JsonSettingsStoreTest, ReferenceCountingDeletesAtZero) {
  const int before = JsonSettingsStore::LiveObjects();
  JsonSettingsStore* store = JsonSettingsStore::Open(File()).release();
  EXPECT_EQ(JsonSettingsStore::LiveObjects(), before + 1);
  EXPECT_EQ(store->AddRef(), 2u);

  void* object = nullptr;
  EXPECT_EQ(store->QueryInterface(kIID_ISettingsStore, &object), kS_OK);
  EXPECT_EQ(object, static_cast<ISettingsStore*>(store));
  EXPECT_EQ(store->QueryInterface(kIID_IUnknown, &object), kS_OK);
  const EsGuid other = {0x5B35E7D1, 0x1FDE, 0x4D43, {0xA5, 0xF7, 0xB0, 0x2E, 0xDF, 0x0E, 0xB7, 0x08}};
  object = store;
  EXPECT_EQ(store->QueryInterface(other, &object), kE_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  EXPECT_EQ(store->Release(), 3u);
  EXPECT_EQ(store->Release(), 2u);
  EXPECT_EQ(store->Release(), 1u);
  EXPECT_EQ(JsonSettingsStore::LiveObjects(), before + 1);
  EXPECT_EQ(store->Release(), 0u);
  EXPECT_EQ(JsonSettingsStore::LiveObjects(), before);
}

// The module reaches the store through fixed slots, not through C++ names.
TEST_F(JsonSettingsStoreTest, OperationsSitInTheirSlots) {
  auto store = JsonSettingsStore::Open(File());
  ISettingsStore* self = store.get();
  void** table = *reinterpret_cast<void***>(self);
  using SetBoolFn = HResult (*)(ISettingsStore*, Bstr, std::int16_t);
  using GetBoolFn = HResult (*)(ISettingsStore*, Bstr, std::int16_t*);
  using SetIntegerFn = HResult (*)(ISettingsStore*, Bstr, std::int64_t);
  using GetIntegerFn = HResult (*)(ISettingsStore*, Bstr, std::int64_t*);
  using SetStringFn = HResult (*)(ISettingsStore*, Bstr, Bstr);
  using GetStringFn = HResult (*)(ISettingsStore*, Bstr, Bstr*);
  using ReservedFn = HResult (*)(ISettingsStore*);

  EXPECT_EQ(reinterpret_cast<SetBoolFn>(table[20])(self, BstrArg(u"DeleteFaxes"), 1), kS_OK);
  EXPECT_EQ(reinterpret_cast<SetIntegerFn>(table[18])(self, BstrArg(u"Number of dirs"), -3), kS_OK);
  EXPECT_EQ(reinterpret_cast<SetStringFn>(table[17])(self, BstrArg(u"Dir0"), BstrArg(u"x")), kS_OK);
  std::int16_t flag = 0;
  std::int64_t number = 0;
  BstrOut text;
  EXPECT_EQ(reinterpret_cast<GetBoolFn>(table[15])(self, BstrArg(u"DeleteFaxes"), &flag), kS_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(reinterpret_cast<GetIntegerFn>(table[13])(self, BstrArg(u"Number of dirs"), &number), kS_OK);
  EXPECT_EQ(number, -3);
  EXPECT_EQ(reinterpret_cast<GetStringFn>(table[12])(self, BstrArg(u"Dir0"), &text), kS_OK);
  EXPECT_EQ(text.str(), u"x");
  for (int slot : {3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 16, 19}) {
    EXPECT_EQ(reinterpret_cast<ReservedFn>(table[slot])(self), kE_NOTIMPL) << slot;
  }
}

}  // namespace
}  // namespace es::host::test
