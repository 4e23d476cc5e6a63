// What the dialog logic relies on from any view, run against each of them (ViewContract.h).
#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/ModuleState.h"
#include "resources/ResourceIds.h"
#include "tests/ui/ViewContract.h"
#include "ui/DialogTemplates.h"

namespace {

using es::Rect;
using viewtest::IDialogView;
using viewtest::Str;
using viewtest::User;
using viewtest::Probe;
using Strings = std::vector<std::string>;

constexpr int kList = IDC_STORAGE_LIST;  // configure: sorted, single selection
constexpr int kGroups = IDC_GROUP_LIST;  // scan: sorted, multiple selection
constexpr int kCombo = IDC_STORAGE_COMBO;
constexpr std::uint32_t kBoth = es::kLvisSelected | es::kLvisFocused;

// A control's rectangle in the template, in dialog units.
Rect Units(int dialog, int id) {
  const es::templates::DialogTemplate* d = es::templates::FindDialog(dialog);
  for (unsigned i = 0; i < d->controlCount; ++i) {
    const auto& c = es::templates::kControls[d->firstControl + i];
    if (c.id == id) return Rect{c.x, c.y, c.x + c.width, c.y + c.height};
  }
  ADD_FAILURE() << "no control " << id;
  return Rect{};
}

bool FoldedOrder(const std::vector<Str>& texts) {
  return std::is_sorted(texts.begin(), texts.end(), [](const Str& a, const Str& b) { return es::ToUpper(a) < es::ToUpper(b); });
}

class ViewContract : public ::testing::TestWithParam<viewtest::ViewKind> {
 protected:
  int Run(int templateId, const std::function<void(User&)>& script) { return GetParam().run(templateId, probe, script); }
  es::ModuleStateScope strings;  // the module's texts
  Probe probe;
};

TEST_P(ViewContract, SortedListAndComboFoldCaseKeepDataWithTheirEntriesAndSelectSeveralRows) {
  const std::vector<Str> texts{u"delta", u"b", u"Alpha", u"charlie", u"B", u"bravo", u"a"};
  std::vector<Str> rows, entries;
  int selectionAtEvent = -1;
  probe.init = [&](IDialogView& v) {
    v.InsertColumn(kGroups, 0, u"Group", es::kLvcfmtLeft, 100);
    v.InsertColumn(kGroups, 1, u"Count", es::kLvcfmtLeft, 100);
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const int row = v.InsertItem(kGroups, texts[i]);
      EXPECT_EQ(texts[i], v.ItemText(kGroups, row, 0)) << "the row the new item landed on";
      v.SetItemData(kGroups, row, static_cast<std::intptr_t>(i));
      v.SetItemText(kGroups, row, 1, texts[i] + u"!");
      const int entry = v.AddString(kCombo, texts[i]);
      EXPECT_EQ(texts[i], v.ComboText(kCombo, entry));
      v.SetComboData(kCombo, entry, static_cast<std::intptr_t>(i));
    }
    for (int r = 0; r < v.ItemCount(kGroups); ++r) {
      rows.push_back(texts.at(static_cast<std::size_t>(v.ItemData(kGroups, r))));
      EXPECT_EQ(rows.back(), v.ItemText(kGroups, r, 0));
      EXPECT_EQ(rows.back() + u"!", v.ItemText(kGroups, r, 1));
    }
    for (int e = 0; e < v.ComboCount(kCombo); ++e) {
      entries.push_back(texts.at(static_cast<std::size_t>(v.ComboData(kCombo, e))));
      EXPECT_EQ(entries.back(), v.ComboText(kCombo, e));
    }
    const Str longText(700, u'x');
    v.SetItemText(kGroups, 3, 1, longText);
    EXPECT_EQ(longText, v.ItemText(kGroups, 3, 1));
    EXPECT_TRUE(v.DeleteItem(kGroups, 0));
    EXPECT_FALSE(v.DeleteItem(kGroups, 9));
    v.SetItemState(kGroups, 1, es::kLvisSelected, es::kLvisSelected);
    v.SetItemState(kGroups, 4, es::kLvisSelected, es::kLvisSelected);
    EXPECT_EQ((std::vector<int>{1, 4, -1}),
              (std::vector<int>{v.NextSelected(kGroups, -1), v.NextSelected(kGroups, 1), v.NextSelected(kGroups, 4)}));
    v.SetCurSel(kCombo, 1);  // the program's own choice is not reported
    EXPECT_EQ(1, v.CurSel(kCombo));
  };
  probe.command = [&](IDialogView& v, int id) { selectionAtEvent = v.CurSel(id); };
  EXPECT_EQ(77, Run(IDD_SCAN, [](User& user) {
              user.ComboDown(kCombo);
              user.On([](IDialogView& v) { v.EndDialog(77); });
            }));
  EXPECT_EQ(texts.size(), rows.size());
  EXPECT_TRUE(FoldedOrder(rows)) << es::ToUtf8(rows[0] + rows[1] + rows[2] + rows[3] + rows[4] + rows[5] + rows[6]);
  EXPECT_EQ(texts.size(), entries.size());
  EXPECT_TRUE(FoldedOrder(entries));
  EXPECT_EQ(1, probe.Count("selchange 14043")) << "the user's choice only";
  EXPECT_EQ(2, selectionAtEvent);
}

TEST_P(ViewContract, SingleSelectionNotifiesEveryChangeInsideTheCallFocusAndDoubleClick) {
  int changesOfFirst = 0, changesOfSecond = 0, focusEvents = 0, rowsAtDestroy = -1;
  const auto changes = [&] { return probe.Count("itemchanged 14038"); };
  probe.init = [&](IDialogView& v) {
    v.InsertColumn(kList, 0, u"Directory", es::kLvcfmtLeft, 200);
    v.InsertItem(kList, u"one");
    v.InsertItem(kList, u"two");
    int before = changes();
    v.SetItemState(kList, 0, kBoth, kBoth);
    changesOfFirst = changes() - before;
    before = changes();
    v.SetItemState(kList, 1, kBoth, kBoth);  // row 0 loses both
    changesOfSecond = changes() - before;
    EXPECT_EQ(0u, v.ItemState(kList, 0, kBoth));
    EXPECT_EQ(kBoth, v.ItemState(kList, 1, kBoth));
    EXPECT_EQ(1, v.NextSelected(kList, -1));
    EXPECT_EQ(-1, v.NextSelected(kList, 1));
  };
  probe.destroy = [&](IDialogView& v) { rowsAtDestroy = v.ItemCount(kList); };
  Run(IDD_CONFIGURE, [&](User& user) {
    user.On([&](IDialogView& v) {
      const int before = probe.Count("setfocus 14038");
      v.SetFocusTo(IDC_REGISTER);
      v.SetFocusTo(kList);
      focusEvents = probe.Count("setfocus 14038") - before;
    });
    user.DoubleClickRow(kList, 0);
    user.On([](IDialogView& v) { EXPECT_EQ(0, v.NextSelected(kList, -1)) << "the double-clicked row is selected"; });
  });
  EXPECT_EQ(1, changesOfFirst);
  EXPECT_GE(changesOfSecond, 2);
  EXPECT_EQ(1, focusEvents);
  EXPECT_EQ(1, probe.Count("dblclk 14038"));
  EXPECT_EQ(2, rowsAtDestroy) << "the controls still answer in OnDestroy";
  EXPECT_EQ("destroy", probe.events.back());
  EXPECT_FALSE(probe.HasView());
}

TEST_P(ViewContract, ClicksReachTheLogicUnlessTheControlIsDisabledOrHidden) {
  bool checkedAtEvent = false;
  probe.command = [&](IDialogView& v, int id) {
    if (id == IDC_DELETE_IMAGES) checkedAtEvent = v.IsChecked(id);
  };
  EXPECT_EQ(es::kIdOk, Run(IDD_CONFIGURE, [](User& user) {
              EXPECT_TRUE(user.Click(IDC_DELETE_IMAGES));
              user.On([](IDialogView& v) {
                v.EnableControl(IDC_REGISTER, false);
                EXPECT_FALSE(v.IsControlEnabled(IDC_REGISTER));
              });
              EXPECT_FALSE(user.Click(IDC_REGISTER));
              user.On([](IDialogView& v) {
                v.EnableControl(IDC_REGISTER, true);
                v.ShowControl(IDC_REGISTER, false);
                EXPECT_TRUE(v.IsControlEnabled(IDC_REGISTER));
                EXPECT_FALSE(v.IsControlVisible(IDC_REGISTER));
              });
              EXPECT_FALSE(user.Click(IDC_REGISTER));
              user.On([](IDialogView& v) { v.ShowControl(IDC_REGISTER, true); });
              EXPECT_TRUE(user.Click(IDC_REGISTER));
              EXPECT_TRUE(user.Click(es::kIdOk));
            }));
  EXPECT_TRUE(checkedAtEvent) << "an auto check box has toggled when its click arrives";
  EXPECT_EQ(1, probe.Count("clicked 14035"));
  EXPECT_EQ(1, probe.Count("clicked 14039"));
  EXPECT_EQ(0, probe.Count("cancel"));
}

TEST_P(ViewContract, GeometryFollowsTheTemplateInDialogUnitsAndMovesAsAsked) {
  Run(IDD_CONFIGURE, [&](User& user) {
    user.On([&](IDialogView& v) {
      for (int id : {es::kIdOk, kList, IDC_DELETE_IMAGES})
        EXPECT_EQ(GetParam().pixels(v, Units(IDD_CONFIGURE, id)), v.ControlRect(id)) << id;
      const es::templates::DialogTemplate* t = es::templates::FindDialog(IDD_CONFIGURE);
      const Rect client = GetParam().pixels(v, Rect{0, 0, t->width, t->height});
      Rect window = v.WindowRect(), area;
      EXPECT_GT(window.Width(), client.Width());  // frame
      EXPECT_GT(window.Height(), client.Height());  // caption
      EXPECT_TRUE(v.MonitorWorkArea(&area));
      EXPECT_GT(area.Width() * area.Height(), 0);
      window.bottom -= 40;
      v.MoveWindowTo(window, es::kNoZOrder | es::kNoActivate);
      EXPECT_EQ(window, v.WindowRect());
      Rect ok = v.ControlRect(es::kIdOk);
      ok.top -= 25;
      ok.bottom -= 25;
      v.MoveControlTo(es::kIdOk, Rect{ok.left, ok.top, 0, 0}, es::kNoSize | es::kNoZOrder | es::kNoActivate);
      EXPECT_EQ(ok, v.ControlRect(es::kIdOk));
      Rect list = v.ControlRect(kList);
      list.bottom -= 30;
      v.MoveControlTo(kList, list, es::kNoZOrder | es::kNoActivate);
      EXPECT_EQ(list, v.ControlRect(kList));
      EXPECT_EQ(list.Width(), v.ListOuterWidth(kList));
      EXPECT_LT(v.ListClientWidth(kList), v.ListOuterWidth(kList));  // the border
    });
  });
}

// Escape cancels, as the close box does in the message box case.
TEST_P(ViewContract, PostedMessagesReachTheLogicFromAnyThreadWhileItRuns) {
  std::shared_ptr<es::IMessagePoster> poster;
  probe.init = [&](IDialogView& v) {
    poster = v.Poster();
    EXPECT_TRUE(v.Post(0x8001, 1, 2));  // queued: arrives after initialisation
  };
  EXPECT_EQ(es::kIdCancel, Run(IDD_EDIT_STORAGE, [&](User& user) {
    std::thread worker([&] {
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(poster->Post(0x8308, 0, 0));
    });
    worker.join();
    EXPECT_TRUE(user.Until([&](IDialogView&) { return probe.Count("message 33544 0 0") == 3; }));
    user.PressF1();
    user.On([](IDialogView& v) { v.Post(es::kWmCommandHelp, 0, 0); });
    EXPECT_TRUE(user.Until([&](IDialogView&) { return probe.Count("message 869 0 0") == 1; }));
    user.PressEscape();
  }));
  EXPECT_EQ((Strings{"init", "message 32769 1 2", "message 33544 0 0", "message 33544 0 0", "message 33544 0 0", "help",
                     "message 869 0 0", "cancel", "destroy"}),
            probe.events);
  ASSERT_NE(nullptr, poster);
  EXPECT_FALSE(poster->Post(0x8308, 0, 0)) << "a message for a closed dialog is lost";
}

TEST_P(ViewContract, MessageBoxesShowTheTextAndReturnTheUsersAnswer) {
  std::vector<int> answers;
  probe.command = [&](IDialogView& v, int id) {
    answers.push_back(id == IDC_REGISTER
                          ? v.MessageBoxId(IDS_ASK_REMOVE, es::kMbYesNo | es::kMbIconQuestion | es::kMbDefButton2)
                          : v.MessageBoxText(u"plain", es::kMbOk | es::kMbIconStop));
  };
  std::vector<Str> texts;
  EXPECT_EQ(es::kIdCancel, Run(IDD_CONFIGURE, [&](User& user) {
    texts.push_back(user.ClickAnswering(IDC_REGISTER, es::kIdYes));
    texts.push_back(user.ClickAnswering(IDC_REGISTER, es::kIdNo));
    texts.push_back(user.ClickAnswering(IDC_HELP_BUTTON, es::kIdOk));
    user.CloseBox();
  }));
  EXPECT_EQ((Strings{"cancel", "destroy"}), Strings(probe.events.end() - 2, probe.events.end())) << "the close box cancels";
  EXPECT_EQ((std::vector<int>{es::kIdYes, es::kIdNo, es::kIdOk}), answers);
  const Str ask = u"Do you want to remove registration of selected External Storage?";
  EXPECT_EQ((std::vector<Str>{ask, ask, u"plain"}), texts);
}

TEST_P(ViewContract, AnExceptionInAHandlerEndsTheDialogAndReachesTheCaller) {
  int rowsAtDestroy = -1;
  probe.init = [](IDialogView& v) { v.InsertItem(kList, u"row"); };
  probe.command = [](IDialogView&, int) { throw std::runtime_error("from the handler"); };
  probe.destroy = [&](IDialogView& v) { rowsAtDestroy = v.ItemCount(kList); };
  EXPECT_THROW(Run(IDD_CONFIGURE, [](User& user) { user.Click(IDC_REGISTER); }), std::runtime_error);
  EXPECT_EQ(1, rowsAtDestroy) << "the logic still frees what its rows hold";
  EXPECT_EQ("destroy", probe.events.back());
  EXPECT_FALSE(probe.HasView());
}

INSTANTIATE_TEST_SUITE_P(View, ViewContract, ::testing::ValuesIn(viewtest::Kinds()), viewtest::ViewName);

}  // namespace
