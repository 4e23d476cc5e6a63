#include "JsonSettingsStore.h"
#include "SettingsTestSupport.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <limits>

namespace es::host::test {
namespace {

using Json = nlohmann::json;

constexpr const char16_t* kKnownNames[] = {u"AllowRescanning", u"DeleteFaxes", u"DeleteGroupFolder",
                                            u"SelectedPath",    u"Number of dirs", u"Dir0"};

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class JsonSettingsStoreTest : public ScratchFolder {
 protected:
  fs::path File() const { return Dir() / "eshost-settings.json"; }

  // Every Get of every known name fails with a negative result and hands out nothing.
  static void ExpectEveryGetFails(JsonSettingsStore& store) {
    for (const char16_t* name : kKnownNames) {
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
};

TEST_F(JsonSettingsStoreTest, MissingFileIsAnEmptyStore) {
  auto store = JsonSettingsStore::Open(File());
  EXPECT_FALSE(store->HasError()) << store->Error();
  ExpectEveryGetFails(*store);
  BstrArg name(u"AllowRescanning");
  std::int16_t flag = 0;
  EXPECT_EQ(store->GetBool(name, &flag), kE_NOTFOUND);
  EXPECT_FALSE(fs::exists(File())) << "opening must not create the file";
}

TEST_F(JsonSettingsStoreTest, RoundTripOfAllThreeTypes) {
  const std::u16string path = u"C:\\Scans\\Stra\u00DFe \u20AC \U0001F4C4";
  {
    auto store = JsonSettingsStore::Open(File());
    EXPECT_EQ(store->SetBool(BstrArg(u"AllowRescanning"), 0), kS_OK);
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), -2), kS_OK);  // any non-zero is true
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteGroupFolder"), 1), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), BstrArg(path)), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Number of dirs"), 2), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"Dir0"), BstrArg(u"%USERPROFILE%\\ES")), kS_OK);
    EXPECT_EQ(store->SetString(BstrArg(u"Dir1"), BstrArg(u"")), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Smallest"), std::numeric_limits<std::int64_t>::min()), kS_OK);
    EXPECT_EQ(store->SetInteger(BstrArg(u"Largest"), std::numeric_limits<std::int64_t>::max()), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  auto store = JsonSettingsStore::Open(File());
  ASSERT_FALSE(store->HasError()) << store->Error();
  std::int16_t flag = 7;
  EXPECT_EQ(store->GetBool(BstrArg(u"AllowRescanning"), &flag), kS_OK);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteFaxes"), &flag), kS_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteGroupFolder"), &flag), kS_OK);
  EXPECT_EQ(flag, 1);
  BstrOut text;
  EXPECT_EQ(store->GetString(BstrArg(u"SelectedPath"), &text), kS_OK);
  EXPECT_EQ(text.str(), path);
  std::int64_t number = 0;
  EXPECT_EQ(store->GetInteger(BstrArg(u"Number of dirs"), &number), kS_OK);
  EXPECT_EQ(number, 2);
  BstrOut dir0, dir1;
  EXPECT_EQ(store->GetString(BstrArg(u"Dir0"), &dir0), kS_OK);
  EXPECT_EQ(dir0.str(), u"%USERPROFILE%\\ES");
  EXPECT_EQ(store->GetString(BstrArg(u"Dir1"), &dir1), kS_OK);
  ASSERT_NE(dir1.get(), nullptr) << "an empty value is an empty string, not a missing one";
  EXPECT_EQ(dir1.str(), u"");
  EXPECT_EQ(store->GetInteger(BstrArg(u"Smallest"), &number), kS_OK);
  EXPECT_EQ(number, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(store->GetInteger(BstrArg(u"Largest"), &number), kS_OK);
  EXPECT_EQ(number, std::numeric_limits<std::int64_t>::max());

  // The switches are JSON booleans in the file, so that users can edit it by hand.
  const Json written = Json::parse(ReadFile(File()));
  EXPECT_EQ(written.at("DeleteFaxes"), Json(true));
  EXPECT_EQ(written.at("AllowRescanning"), Json(false));
}

TEST_F(JsonSettingsStoreTest, CommitReplacesAnExistingFile) {
  for (std::int64_t round = 1; round <= 3; ++round) {
    auto store = JsonSettingsStore::Open(File());
    ASSERT_FALSE(store->HasError()) << store->Error();
    std::int64_t number = 0;
    if (round > 1) {
      EXPECT_EQ(store->GetInteger(BstrArg(u"Number of dirs"), &number), kS_OK);
      EXPECT_EQ(number, round - 1);
    }
    EXPECT_EQ(store->SetInteger(BstrArg(u"Number of dirs"), round), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  EXPECT_EQ(Listing(Dir()), std::vector<std::string>{"eshost-settings.json"});
}

TEST_F(JsonSettingsStoreTest, WritesPrettySortedText) {
  auto store = JsonSettingsStore::Open(File());
  EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), BstrArg(u"D:\\in")), kS_OK);
  EXPECT_EQ(store->SetBool(BstrArg(u"AllowRescanning"), 1), kS_OK);
  EXPECT_EQ(store->SetInteger(BstrArg(u"Number of dirs"), 0), kS_OK);
  std::string message;
  ASSERT_TRUE(store->Commit(&message)) << message;
  EXPECT_EQ(ReadFile(File()),
            "{\n"
            "  \"AllowRescanning\": true,\n"
            "  \"Number of dirs\": 0,\n"
            "  \"SelectedPath\": \"D:\\\\in\"\n"
            "}\n");
}

TEST_F(JsonSettingsStoreTest, PathWithNonAsciiNameWorks) {
  const fs::path folder = Dir() / fs::path(u"Einstellungen \u00E4\u20AC");
  fs::create_directories(folder);
  const fs::path file = folder / fs::path(u"\u00FC.json");
  {
    auto store = JsonSettingsStore::Open(file);
    EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 0), kS_OK);
    std::string message;
    ASSERT_TRUE(store->Commit(&message)) << message;
  }
  auto store = JsonSettingsStore::Open(file);
  ASSERT_FALSE(store->HasError()) << store->Error();
  std::int16_t flag = 1;
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteFaxes"), &flag), kS_OK);
  EXPECT_EQ(flag, 0);
}

TEST_F(JsonSettingsStoreTest, InvalidJsonIsReportedWithTheFileName) {
  const std::string bytes = "{ \"AllowRescanning\": tru";
  WriteFile(File(), bytes);
  auto store = JsonSettingsStore::Open(File());
  ASSERT_TRUE(store->HasError());
  EXPECT_EQ(store->Error().rfind(Utf8(File()) + ": not valid JSON: ", 0), 0u) << store->Error();
  EXPECT_NE(store->Error().find("line 1"), std::string::npos) << store->Error();
  ExpectEveryGetFails(*store);
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_NE(message.find(Utf8(File())), std::string::npos) << message;
  EXPECT_EQ(ReadFile(File()), bytes);
}

TEST_F(JsonSettingsStoreTest, UnusableFilesAreRefused) {
  const struct {
    const char* bytes;
    const char* reason;
  } cases[] = {
      {"", "not valid JSON"},
      {"[true, false]", "the settings must be one JSON object, found a list"},
      {"\"DeleteFaxes\"", "the settings must be one JSON object, found a string"},
      {"{\"a\": 1} {\"b\": 2}", "not valid JSON"},
      {"{\"a\": \"\xC3\x28\"}", "not valid JSON"},  // malformed UTF-8
  };
  for (const auto& c : cases) {
    WriteFile(File(), c.bytes);
    auto store = JsonSettingsStore::Open(File());
    ASSERT_TRUE(store->HasError()) << c.bytes;
    EXPECT_EQ(store->Error().rfind(Utf8(File()) + ": " + c.reason, 0), 0u) << store->Error();
  }
}

TEST_F(JsonSettingsStoreTest, WrongTypeOfAKnownNameIsRefusedAndTheFileKept) {
  const struct {
    const char* bytes;
    const char* message;
  } cases[] = {
      {R"({"AllowRescanning": true, "DeleteFaxes": "yes"})", R"("DeleteFaxes" must be true or false, found a string)"},
      {R"({"DeleteGroupFolder": 1})", R"("DeleteGroupFolder" must be true or false, found the number 1)"},
      {R"({"Number of dirs": 2.5})", R"("Number of dirs" must be a whole number)"},
      {R"({"Number of dirs": 9223372036854775808})", R"("Number of dirs" must be a whole number)"},
      {R"({"Number of dirs": "2"})", R"("Number of dirs" must be a whole number)"},
      {R"({"SelectedPath": null})", R"("SelectedPath" must be a string, found null)"},
      {R"({"Dir12": ["C:\\a"]})", R"("Dir12" must be a string, found a list)"},
  };
  for (const auto& c : cases) {
    WriteFile(File(), c.bytes);
    auto store = JsonSettingsStore::Open(File());
    ASSERT_TRUE(store->HasError()) << c.bytes;
    EXPECT_EQ(store->Error().rfind(Utf8(File()) + ": " + c.message, 0), 0u) << store->Error();
    ExpectEveryGetFails(*store);
    EXPECT_LT(store->SetBool(BstrArg(u"AllowRescanning"), 1), 0);
    std::string message;
    EXPECT_FALSE(store->Commit(&message));
    EXPECT_NE(message.find(store->Error()), std::string::npos) << message;
    EXPECT_EQ(ReadFile(File()), c.bytes);
    EXPECT_EQ(Listing(Dir()), std::vector<std::string>{"eshost-settings.json"});
  }
}

TEST_F(JsonSettingsStoreTest, NamesOnlyLikeKnownOnesMayHoldAnything) {
  // "Dir" alone, "DirX" and "dir0" are not entry names; case matters.
  WriteFile(File(), R"({"Dir": 1, "DirX": true, "dir0": 5, "Dir0x": null})");
  auto store = JsonSettingsStore::Open(File());
  EXPECT_FALSE(store->HasError()) << store->Error();
}

TEST_F(JsonSettingsStoreTest, DeeplyNestedValuesAreRefused) {
  WriteFile(File(), "{\"Window\": " + std::string(100000, '[') + std::string(100000, ']') + "}");
  auto store = JsonSettingsStore::Open(File());
  ASSERT_TRUE(store->HasError());
  EXPECT_NE(store->Error().find("nested"), std::string::npos) << store->Error();
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
  const Json written = Json::parse(ReadFile(File()));
  for (const auto& [key, value] : others.items()) {
    ASSERT_TRUE(written.contains(key)) << key;
    EXPECT_EQ(written.at(key), value) << key;
  }
  EXPECT_EQ(written.at("DeleteFaxes"), Json(false));
  EXPECT_EQ(written.size(), others.size() + 1);
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

TEST_F(JsonSettingsStoreTest, TextThatUtf8CannotHoldIsRefused) {
  auto store = JsonSettingsStore::Open(File());
  const char16_t loneSurrogate[] = {u'C', u':', 0xDC80, 0};
  EXPECT_EQ(store->SetString(BstrArg(u"Dir0"), BstrArg(loneSurrogate)), kE_INVALIDARG);
  EXPECT_EQ(store->SetBool(BstrArg(loneSurrogate), 1), kE_INVALIDARG);
  std::int16_t flag = 0;
  EXPECT_EQ(store->GetBool(BstrArg(u"Dir0"), &flag), kE_NOTFOUND);
  std::string message;
  EXPECT_TRUE(store->Commit(&message)) << message;
}

TEST_F(JsonSettingsStoreTest, NullArguments) {
  auto store = JsonSettingsStore::Open(File());
  EXPECT_EQ(store->GetString(BstrArg(u"SelectedPath"), nullptr), kE_POINTER);
  EXPECT_EQ(store->GetInteger(BstrArg(u"Number of dirs"), nullptr), kE_POINTER);
  EXPECT_EQ(store->GetBool(BstrArg(u"DeleteFaxes"), nullptr), kE_POINTER);
  EXPECT_EQ(store->QueryInterface(kIID_ISettingsStore, nullptr), kE_POINTER);
  // A null BSTR is empty text, as in COM.
  EXPECT_EQ(store->SetString(BstrArg(u"SelectedPath"), nullptr), kS_OK);
  BstrOut text;
  EXPECT_EQ(store->GetString(BstrArg(u"SelectedPath"), &text), kS_OK);
  ASSERT_NE(text.get(), nullptr);
  EXPECT_EQ(text.str(), u"");
}

TEST_F(JsonSettingsStoreTest, StringsComeOutAsFreeableBstrs) {
  auto store = JsonSettingsStore::Open(File());
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
}

TEST_F(JsonSettingsStoreTest, CommitIntoAMissingFolderFailsCleanly) {
  const fs::path file = Dir() / "missing" / "eshost-settings.json";
  auto store = JsonSettingsStore::Open(file);
  ASSERT_FALSE(store->HasError()) << store->Error();
  EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(file) + ": cannot be written", 0), 0u) << message;
  EXPECT_FALSE(fs::exists(Dir() / "missing"));
  EXPECT_TRUE(Listing(Dir()).empty());
}

TEST_F(JsonSettingsStoreTest, FailedRenameLeavesNoTemporaryFile) {
  auto store = JsonSettingsStore::Open(File());
  ASSERT_FALSE(store->HasError()) << store->Error();
  EXPECT_EQ(store->SetBool(BstrArg(u"DeleteFaxes"), 1), kS_OK);
  // Something else took the name meanwhile: the temporary file is written, the rename fails.
  fs::create_directory(File());
  WriteFile(File() / "inside", "x");
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(File()) + ": cannot be replaced", 0), 0u) << message;
  EXPECT_EQ(Listing(Dir()), std::vector<std::string>{"eshost-settings.json"});
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
  {
    std::ofstream probe(Dir() / "probe");
    if (probe.is_open()) {
      probe.close();
      fs::remove(Dir() / "probe");
      GTEST_SKIP() << "this user may write into folders without write permission (root)";
    }
  }
  std::string message;
  EXPECT_FALSE(store->Commit(&message));
  EXPECT_EQ(message.rfind(Utf8(File()) + ": cannot be written", 0), 0u) << message;
  EXPECT_EQ(ReadFile(File()), old);
  EXPECT_EQ(Listing(Dir()), std::vector<std::string>{"eshost-settings.json"});
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
