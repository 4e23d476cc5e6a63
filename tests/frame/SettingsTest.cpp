// Loading and saving an element's settings against a store that fails or throws part-way:
// what was read stays, the rest keeps its defaults, no exception reaches the host, and
// every use of the store is bracketed by AddRef and Release.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "JsonSettingsStore.h"
#include "frame/Element.h"
#include "tests/support/FailingSettingsStore.h"
#include "tests/support/TempFolder.h"

namespace {

using es::host::FailingSettingsStore;
using es::host::JsonSettingsStore;

// "allow deleteFaxes deleteGroup selected [directories]" as an element loads them.
std::string Load(ISettingsStore* store) {
  auto* element = new es::CElement(nullptr);
  EXPECT_EQ(element->LoadSettings(store), 0);
  EXPECT_EQ(element->storageNames.size(), element->directories.size());
  std::string out = std::to_string(element->AllowRescanning) + " " + std::to_string(element->DeleteFaxes) + " " +
                    std::to_string(element->DeleteGroupFolder) + " " + es::ToUtf8(element->SelectedPath) + " [";
  for (const auto& directory : element->directories) out += es::ToUtf8(directory) + ";";
  element->DeleteThis();
  return out + "]";
}

TEST(ElementSettings, LoadStopsAtTheFirstFailingReadAndKeepsWhatWasRead) {
  // No DeleteGroupFolder; Dir1 is empty. The reads in order: AllowRescanning, DeleteFaxes,
  // DeleteGroupFolder, SelectedPath, Number of dirs, Dir0, Dir1, Dir2, Dir3.
  estest::TempFolder folder;
  folder.Write("settings.json", R"({"AllowRescanning": false, "DeleteFaxes": false, "Number of dirs": 4,
    "SelectedPath": "/chosen", "Dir0": "/a", "Dir1": "", "Dir2": "/c", "Dir3": "/d"})");
  const struct { int failAt; bool throws; const char* expected; } rows[] = {  // failAt 0: nothing fails
      {0, false, "0 0 0 /chosen [/a;/c;/d;]"},  // a missing DeleteGroupFolder follows DeleteFaxes
      {2, false, "0 1 1  []"},
      {2, true, "0 1 1  []"},
      {3, true, "0 0 1  []"},  // a failed read of it goes on; an exception ends the load
      {3, false, "0 0 0 /chosen [/a;/c;/d;]"},
      {9, false, "0 0 0 /chosen [/a;/c;]"},
      {9, true, "0 0 0 /chosen [/a;/c;]"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "fail at " << row.failAt << (row.throws ? " (throws)" : ""));
    auto inner = JsonSettingsStore::Open(folder / "settings.json");
    ASSERT_FALSE(inner->HasError()) << inner->Error();
    FailingSettingsStore store(inner.get());
    store.FailAt(row.failAt, row.throws);
    EXPECT_EQ(Load(&store), row.expected);
    EXPECT_EQ(store.RefBalance(), 0);
    EXPECT_EQ(store.AddRefCount(), 1);
  }
  EXPECT_EQ(Load(nullptr), "1 1 1  []");
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
      store.FailAt(n, throws);
      EXPECT_EQ(element->SaveSettings(&store), n == 0 ? kS_OK : static_cast<HResult>(0x8000FFFFu));
      EXPECT_EQ(store.GetSetCount(), n == 0 ? 7 : n) << "nothing is written after the failure";
      EXPECT_EQ(store.RefBalance(), 0);
    }
  }
  EXPECT_EQ(element->SaveSettings(nullptr), static_cast<HResult>(0x8000FFFFu));
  element->DeleteThis();
}

}  // namespace
