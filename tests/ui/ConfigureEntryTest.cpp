// The element's configure entry: the dialog runs on the element's settings, which change
// only when it is accepted; the names are then re-read from the storages.
#include "frame/Element.h"
#include "frame/VAVudiImplement.h"
#include "resources/ResourceIds.h"
#include "tests/ui/DialogTestSupport.h"
#include "ui/DlgCfg.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Str;

constexpr int kList = IDC_STORAGE_LIST;

class ConfigureEntry : public ::testing::Test {
 protected:
  ConfigureEntry() : element(new es::CElement(&es::kElementTypeDescriptor)) {
    a = storages.Add("a", "Alpha\r\nsecond");
    b = storages.Add("b", "Beta");
    c = storages.Add("c", "Gamma\r\n");
    element->directories = {b, a, c};
    element->storageNames = {u"old b", u"old a", u"old c"};  // stale: re-read after OK
    element->SelectedPath = b;
    element->DeleteFaxes = 1;
    element->DeleteGroupFolder = 1;
    element->AllowRescanning = 0;
  }
  ~ConfigureEntry() override { element->DeleteThis(); }

  std::int32_t Configure(std::function<void(HeadlessView&)> actions, bool allowScan = true) {
    desk.AddScript(IDD_CONFIGURE, std::move(actions));
    return element->Configure(nullptr, allowScan, nullptr, false);
  }

  HeadlessDesk desk;
  uitest::Storages storages;
  es::CElement* element;
  Str a, b, c;
};

TEST_F(ConfigureEntry, CancelChangesNothing) {
  desk.AddAnswer(es::kIdYes);
  EXPECT_EQ(1, Configure([](HeadlessView& v) {
              v.ClickRow(kList, 0);
              v.Click(IDC_REMOVE);
              v.Click(IDC_DELETE_IMAGES);
            }));
  EXPECT_EQ((es::StrArray{b, a, c}), element->directories);
  EXPECT_EQ((es::StrArray{u"old b", u"old a", u"old c"}), element->storageNames);
  EXPECT_EQ(b, element->SelectedPath);
  EXPECT_EQ(1, element->DeleteFaxes);
}

TEST_F(ConfigureEntry, OkAfterRemovingOneOfThreeTakesTwoDirectoriesWithFreshNames) {
  desk.AddAnswer(es::kIdYes);
  EXPECT_EQ(0, Configure([](HeadlessView& v) {
              EXPECT_EQ(1, v.NextSelected(kList, -1)) << "the selected path is preselected";
              v.ClickRow(kList, 0);
              v.Click(IDC_REMOVE);
              v.Click(IDC_DELETE_IMAGES);
              v.Click(es::kIdOk);
            }));
  EXPECT_EQ((es::StrArray{b, c}), element->directories);
  EXPECT_EQ((es::StrArray{u"Beta", u"Gamma"}), element->storageNames);
  EXPECT_EQ(b, element->SelectedPath);  // the row selected after the removal
  EXPECT_EQ(0, element->DeleteFaxes);
  EXPECT_EQ(0, element->DeleteGroupFolder);
  EXPECT_EQ(0, element->AllowRescanning) << "not shown, not changed";
}

TEST_F(ConfigureEntry, ScanAndCloseTakesOverAndAnswers15001) {
  EXPECT_EQ(15001, Configure([](HeadlessView& v) {
              v.ClickRow(kList, 2);
              v.Click(IDC_SCAN);
            }));
  EXPECT_EQ((es::StrArray{a, b, c}), element->directories);
  EXPECT_EQ((es::StrArray{u"Alpha", u"Beta", u"Gamma"}), element->storageNames);
  EXPECT_EQ(c, element->SelectedPath);
}

TEST_F(ConfigureEntry, CaptionFormatIsUsedOnlyWhenGiven) {
  Str caption;
  desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) { caption = v.Caption(); });
  element->Configure(nullptr, false, u"%s settings", true);
  EXPECT_EQ(u"External Storage settings", caption);
  desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) { caption = v.Caption(); });
  element->Configure(nullptr, false, u"%s settings", false);
  EXPECT_EQ(u"Configure External Storage", caption);
}

TEST_F(ConfigureEntry, WithoutAScriptTheHeadlessDialogChangesNothing) {
  EXPECT_EQ(1, element->Configure(nullptr, true, nullptr, false));
  EXPECT_EQ((es::StrArray{b, a, c}), element->directories);
}

}  // namespace
