// The element's interactive Scan in the real scan dialog: the groups are counted in the
// background, the user picks two of them and presses Scan, and exactly their pages reach
// the host, in the order the list shows the groups.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/import/ImportFixture.h"
#include "tests/win32ui/WindowDriver.h"

namespace {

using estest::WindowDriver;

constexpr wchar_t kScanCaption[] = L"Scan from External Storage";

// Polls `done` from the script's thread; the dialog's thread does the work meanwhile.
template <typename P>
bool WaitUntil(int timeoutMs, P done) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (done()) return true;
    Sleep(20);
  }
  return false;
}

// Whether every one of `rows` rows shows its count rather than "?".
bool Counted(WindowDriver& d, HWND dlg, int rows) {
  if (d.Rows(dlg, IDC_GROUP_LIST) != rows) return false;
  for (int row = 0; row < rows; ++row) {
    const std::wstring count = d.Cell(dlg, IDC_GROUP_LIST, row, 1);
    if (count.empty() || count == L"?") return false;
  }
  return true;
}

// Three groups of two documents with one page each. The folder names sort the other way
// round from the group names, so that the list's order is not the folders' order.
class Win32Scan : public ::testing::Test {
 protected:
  Win32Scan() {
    esproduce::StoragePlan plan;
    const std::vector<std::pair<std::string, std::string>> groups = {
        {"G3", "Alpha"}, {"G2", "Beta"}, {"G1", "Gamma"}};
    for (const auto& [folder, name] : groups) {
      esproduce::GroupPlan group;
      group.folderName = folder;
      group.lockText = name + "\r\n";
      group.order = std::vector<std::string>{name + "1", name + "2"};
      group.documents.push_back(estest::NamedDocument(name + "1", 1));
      group.documents.push_back(estest::NamedDocument(name + "2", 1));
      plan.groups.push_back(std::move(group));
    }
    storage.Write(plan);
    holder.element->directories = {storage.Dir()};
    holder.element->RebuildStorageNames();
    holder.element->SelectedPath = storage.Dir();
    callback.unattended = false;
  }

  estest::TempStorage storage;
  estest::ElementHolder holder{false, false};
  estest::RecordingCallback callback;
};

TEST_F(Win32Scan, ImportsTheTwoSelectedGroupsInDisplayOrder) {
  std::vector<std::wstring> names, counts;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(kScanCaption);
    // The counts come from the worker; until then a row shows "?".
    d.Expect(WaitUntil(15000, [&] { return Counted(d, dlg, 3); }), "three rows with their counts");
    for (int row = 0; row < d.Rows(dlg, IDC_GROUP_LIST); ++row) {
      names.push_back(d.Cell(dlg, IDC_GROUP_LIST, row, 0));
      counts.push_back(d.Cell(dlg, IDC_GROUP_LIST, row, 1));
    }
    // Gamma first, then Alpha: the order of selecting does not decide the import's order.
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    HWND list = GetDlgItem(dlg, IDC_GROUP_LIST);
    for (const wchar_t* name : {L"Gamma", L"Alpha"}) {
      const int row = d.FindRow(dlg, IDC_GROUP_LIST, name);
      d.Expect(row >= 0, "a row for " + WindowDriver::Narrow(name));
      if (row >= 0) SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    d.Expect(WaitUntil(5000, [&] { return d.Enabled(dlg, IDC_SCAN); }), "Scan enabled with a selection");
    d.Click(dlg, IDC_SCAN);
    d.WaitGone(dlg, 15000);
  });
  EXPECT_EQ(1, holder.element->Scan(nullptr, 0, &callback));
  driver.Finish();
  for (const auto& failure : driver.Failures()) ADD_FAILURE() << failure;

  EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"Beta", L"Gamma"}), names);
  EXPECT_EQ((std::vector<std::wstring>{L"2", L"2", L"2"}), counts);
  EXPECT_EQ((std::vector<std::u16string>{u"Alpha1/p1", u"Alpha2/p1", u"Gamma1/p1", u"Gamma2/p1"}),
            callback.AcceptedIds());
  EXPECT_EQ(4u, callback.pages.size());
  // Beta was not chosen: its documents are still in the storage.
  EXPECT_TRUE(storage.Exists("G2/Beta1"));
  EXPECT_TRUE(storage.Exists("G2/Beta2"));
}

}  // namespace
