// Loading and saving an element's settings against a store that fails or throws part-way:
// what was read stays, the rest keeps its defaults, no exception reaches the host, and
// every use of the store is bracketed by AddRef and Release.
#include <filesystem>

#include <gtest/gtest.h>

#include "JsonSettingsStore.h"
#include "frame/Element.h"
#include "tests/support/FailingSettingsStore.h"

namespace {

using es::host::FailingSettingsStore;
using es::host::JsonSettingsStore;

// A BSTR for one call.
class Text {
 public:
  explicit Text(const char16_t* text)
      : bstr_(es::platform::BstrAlloc(text, std::char_traits<char16_t>::length(text))) {}
  ~Text() { es::platform::BstrFree(bstr_); }
  operator Bstr() const { return bstr_; }

 private:
  Bstr bstr_;
};

// AllowRescanning=0, DeleteFaxes=0, no DeleteGroupFolder, SelectedPath, four directories
// of which Dir1 is empty.
void FillStore(JsonSettingsStore& s) {
  s.SetBool(Text(u"AllowRescanning"), 0);
  s.SetBool(Text(u"DeleteFaxes"), 0);
  s.SetString(Text(u"SelectedPath"), Text(u"/chosen"));
  s.SetInteger(Text(u"Number of dirs"), 4);
  s.SetString(Text(u"Dir0"), Text(u"/a"));
  s.SetString(Text(u"Dir1"), Text(u""));
  s.SetString(Text(u"Dir2"), Text(u"/c"));
  s.SetString(Text(u"Dir3"), Text(u"/d"));
}

struct Loaded {
  std::int32_t allow, deleteFaxes, deleteGroup;
  std::u16string selected;
  es::StrArray directories;
};

Loaded Load(ISettingsStore* store) {
  auto* element = new es::CElement(nullptr);
  EXPECT_EQ(element->LoadSettings(store), 0);
  Loaded out{element->AllowRescanning, element->DeleteFaxes, element->DeleteGroupFolder, element->SelectedPath,
             element->directories};
  EXPECT_EQ(element->storageNames.size(), element->directories.size());
  element->DeleteThis();
  return out;
}

TEST(ElementSettings, LoadStopsAtTheFirstFailingReadAndKeepsWhatWasRead) {
  // The reads in order: AllowRescanning, DeleteFaxes, DeleteGroupFolder, SelectedPath,
  // Number of dirs, Dir0, Dir1, Dir2, Dir3.
  const struct {
    int failAt;  // 0: nothing fails
    bool throws;
    Loaded expected;
  } rows[] = {
      {0, false, {0, 0, 0, u"/chosen", {u"/a", u"/c", u"/d"}}},  // a missing DeleteGroupFolder follows DeleteFaxes
      {2, false, {0, 1, 1, u"", {}}},
      {2, true, {0, 1, 1, u"", {}}},
      {3, true, {0, 0, 1, u"", {}}},  // a failed read of it goes on; an exception ends the load
      {3, false, {0, 0, 0, u"/chosen", {u"/a", u"/c", u"/d"}}},
      {9, false, {0, 0, 0, u"/chosen", {u"/a", u"/c"}}},
      {9, true, {0, 0, 0, u"/chosen", {u"/a", u"/c"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "fail at " << row.failAt << (row.throws ? " (throws)" : ""));
    auto inner = JsonSettingsStore::Open(std::filesystem::path());
    FillStore(*inner);
    FailingSettingsStore store(inner.get());
    (store.*(row.throws ? &FailingSettingsStore::ThrowAt : &FailingSettingsStore::FailAt))(row.failAt, kE_FAIL);
    const Loaded got = Load(&store);
    EXPECT_EQ(got.allow, row.expected.allow);
    EXPECT_EQ(got.deleteFaxes, row.expected.deleteFaxes);
    EXPECT_EQ(got.deleteGroup, row.expected.deleteGroup);
    EXPECT_EQ(got.selected, row.expected.selected);
    EXPECT_EQ(got.directories, row.expected.directories);
    EXPECT_EQ(store.RefBalance(), 0);
    EXPECT_EQ(store.AddRefCount(), 1);
  }
  const Loaded none = Load(nullptr);
  EXPECT_EQ(none.allow + none.deleteFaxes + none.deleteGroup, 3);
  EXPECT_TRUE(none.directories.empty());
}

TEST(ElementSettings, SaveStopsAtTheFirstFailingWriteAndSaysSo) {
  auto* element = new es::CElement(nullptr);
  element->SelectedPath = u"/chosen";
  element->directories = {u"/a", u"/b"};
  // Writes in order: three switches, SelectedPath, Number of dirs, Dir0, Dir1.
  for (int n = 0; n <= 7; ++n) {
    for (const bool throws : {false, true}) {
      if (n == 0 && throws) continue;
      SCOPED_TRACE(testing::Message() << "write " << n << (throws ? " throws" : " fails"));
      auto inner = JsonSettingsStore::Open(std::filesystem::path());
      FailingSettingsStore store(inner.get());
      (store.*(throws ? &FailingSettingsStore::ThrowAt : &FailingSettingsStore::FailAt))(n, kE_FAIL);
      EXPECT_EQ(element->SaveSettings(&store), n == 0 ? kS_OK : static_cast<HResult>(0x8000FFFFu));
      EXPECT_EQ(store.GetSetCount(), n == 0 ? 7 : n) << "nothing is written after the failure";
      EXPECT_EQ(store.RefBalance(), 0);
    }
  }
  EXPECT_EQ(element->SaveSettings(nullptr), static_cast<HResult>(0x8000FFFFu));
  element->DeleteThis();
}

}  // namespace
