// The headless view behaves as the real controls do where the dialogs rely on it.
#include <atomic>
#include <thread>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/ui/DialogTestSupport.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Notify;
using es::Str;

::testing::Environment* const kAttach = ::testing::AddGlobalTestEnvironment(new uitest::AttachEnvironment);

// Records what the view delivers.
class Recorder : public es::CDialogLogic {
 public:
  std::function<void(es::IDialogView&)> init;
  std::vector<std::pair<int, Notify>> notifications;
  std::vector<std::uint32_t> messages;
  std::vector<int> commands;
  bool OnInitDialog() override {
    if (init) init(View());
    return true;
  }
  void OnNotify(int id, Notify code) override { notifications.emplace_back(id, code); }
  void OnCommand(int id, es::Command) override { commands.push_back(id); }
  std::intptr_t OnMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
    messages.push_back(message);
    return 0;
  }
  int ItemChanges() const {
    int n = 0;
    for (auto& [id, code] : notifications) n += code == Notify::kItemChanged ? 1 : 0;
    return n;
  }
};

int RunDialog(es::CDialogLogic& logic, int templateId) {
  return es::CreateView(nullptr, templateId)->RunModal(logic);
}

TEST(HeadlessView, SortedInsertionFoldsCaseAndGoesAfterEqualRows) {
  HeadlessDesk desk;
  es::ModuleStateScope strings;
  std::vector<int> rows;
  std::vector<Str> order;
  Recorder logic;
  logic.init = [&](es::IDialogView& v) {
    for (const char16_t* text : {u"b", u"A", u"a", u"C", u"B"}) rows.push_back(v.InsertItem(IDC_STORAGE_LIST, text));
    for (int r = 0; r < v.ItemCount(IDC_STORAGE_LIST); ++r) order.push_back(v.ItemText(IDC_STORAGE_LIST, r, 0));
  };
  RunDialog(logic, IDD_CONFIGURE);
  EXPECT_EQ((std::vector<int>{0, 0, 1, 3, 3}), rows);
  EXPECT_EQ((std::vector<Str>{u"A", u"a", u"b", u"B", u"C"}), order);
}

TEST(HeadlessView, SingleSelectionListKeepsOneSelectedRowAndNotifiesEachChange) {
  HeadlessDesk desk;
  Recorder logic;
  int changesAfterFirst = 0;
  desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
    v.InsertItem(IDC_STORAGE_LIST, u"one");
    v.InsertItem(IDC_STORAGE_LIST, u"two");
    v.SetItemState(IDC_STORAGE_LIST, 0, es::kLvisSelected | es::kLvisFocused, es::kLvisSelected | es::kLvisFocused);
    changesAfterFirst = logic.ItemChanges();
    logic.notifications.clear();
    ASSERT_TRUE(v.ClickRow(IDC_STORAGE_LIST, 1));
    EXPECT_EQ(0u, v.ItemState(IDC_STORAGE_LIST, 0, es::kLvisSelected | es::kLvisFocused));
    EXPECT_EQ(es::kLvisSelected | es::kLvisFocused,
              v.ItemState(IDC_STORAGE_LIST, 1, es::kLvisSelected | es::kLvisFocused));
    EXPECT_EQ(1, v.NextSelected(IDC_STORAGE_LIST, -1));
    EXPECT_EQ(-1, v.NextSelected(IDC_STORAGE_LIST, 1));
  });
  RunDialog(logic, IDD_CONFIGURE);
  EXPECT_EQ(1, changesAfterFirst);
  // Row 0 loses selection and focus, row 1 gains both.
  EXPECT_GE(logic.ItemChanges(), 2);
}

TEST(HeadlessView, MultipleSelectionListExtendsWithCtrlClick) {
  HeadlessDesk desk;
  Recorder logic;
  std::vector<int> selected;
  desk.AddScript(IDD_SCAN, [&](HeadlessView& v) {
    for (const char16_t* text : {u"g1", u"g2", u"g3"}) v.InsertItem(IDC_GROUP_LIST, text);
    v.ClickRow(IDC_GROUP_LIST, 0);
    v.ClickRow(IDC_GROUP_LIST, 2, true);
    for (int r = v.NextSelected(IDC_GROUP_LIST, -1); r != -1; r = v.NextSelected(IDC_GROUP_LIST, r))
      selected.push_back(r);
    // A plain click starts a new selection.
    v.ClickRow(IDC_GROUP_LIST, 1);
    EXPECT_EQ(1, v.NextSelected(IDC_GROUP_LIST, -1));
    EXPECT_EQ(-1, v.NextSelected(IDC_GROUP_LIST, 1));
  });
  RunDialog(logic, IDD_SCAN);
  EXPECT_EQ((std::vector<int>{0, 2}), selected);
}

TEST(HeadlessView, ComboBoxSortsAndReportsOnlyTheUsersChoice) {
  HeadlessDesk desk;
  Recorder logic;
  desk.AddScript(IDD_SCAN, [&](HeadlessView& v) {
    EXPECT_EQ(0, v.AddString(IDC_STORAGE_COMBO, u"m"));
    EXPECT_EQ(0, v.AddString(IDC_STORAGE_COMBO, u"B"));
    EXPECT_EQ(2, v.AddString(IDC_STORAGE_COMBO, u"z"));
    v.SetComboData(IDC_STORAGE_COMBO, 2, 42);
    v.SetCurSel(IDC_STORAGE_COMBO, 1);
    EXPECT_TRUE(logic.commands.empty());
    ASSERT_TRUE(v.ChooseComboItem(IDC_STORAGE_COMBO, 2));
    EXPECT_EQ(42, v.ComboData(IDC_STORAGE_COMBO, v.CurSel(IDC_STORAGE_COMBO)));
  });
  RunDialog(logic, IDD_SCAN);
  EXPECT_EQ((std::vector<int>{IDC_STORAGE_COMBO}), logic.commands);
}

TEST(HeadlessView, DisabledOrHiddenControlsCannotBeUsed) {
  HeadlessDesk desk;
  Recorder logic;
  desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
    v.EnableControl(IDC_REGISTER, false);
    EXPECT_FALSE(v.Click(IDC_REGISTER));
    v.EnableControl(IDC_REGISTER, true);
    v.ShowControl(IDC_REGISTER, false);
    EXPECT_FALSE(v.Click(IDC_REGISTER));
    v.ShowControl(IDC_REGISTER, true);
    EXPECT_TRUE(v.Click(IDC_REGISTER));
  });
  RunDialog(logic, IDD_CONFIGURE);
  EXPECT_EQ((std::vector<int>{IDC_REGISTER}), logic.commands);
}

TEST(HeadlessView, GeometryFollowsTheTemplateInFixedDialogUnits) {
  HeadlessDesk desk;
  desk.workArea = es::Rect{100, 50, 1300, 1010};
  Recorder logic;
  es::Rect window, ok, list;
  int clientWidth = 0;
  logic.init = [&](es::IDialogView& v) {
    window = v.WindowRect();
    ok = v.ControlRect(1);
    list = v.ControlRect(IDC_STORAGE_LIST);
    clientWidth = v.ListClientWidth(IDC_STORAGE_LIST);
  };
  RunDialog(logic, IDD_CONFIGURE);
  // 354 x 365 units: 531 x 593 pixels inside a 3-pixel frame and a 26-pixel caption.
  EXPECT_EQ((es::Rect{100, 50, 100 + 531 + 6, 50 + 593 + 29}), window);
  EXPECT_EQ((es::Rect{11, 559, 86, 582}), ok);  // 7,344 50x14
  EXPECT_EQ(427, list.Width());  // 7..292 units
  EXPECT_EQ(list.Width() - 2, clientWidth);
}

TEST(HeadlessView, WithoutScriptTheDialogEndsCancelled) {
  Recorder logic;
  bool initialised = false;
  logic.init = [&](es::IDialogView&) { initialised = true; };
  EXPECT_EQ(es::kIdCancel, es::CreateHeadlessView(nullptr, IDD_EDIT_STORAGE)->RunModal(logic));
  EXPECT_TRUE(initialised);
  EXPECT_FALSE(logic.HasView());
  EXPECT_EQ(-1, es::CreateHeadlessView(nullptr, 999)->RunModal(logic)) << "no such template";
}

TEST(HeadlessView, PostedMessagesReachTheDialogFromAnyThreadWhileItRuns) {
  HeadlessDesk desk;
  Recorder logic;
  std::shared_ptr<es::IMessagePoster> poster;
  desk.AddScript(IDD_SCAN, [&](HeadlessView& v) {
    poster = v.Poster();
    EXPECT_TRUE(v.Post(0x8001, 0, 0));
    std::thread worker([&] {
      for (int i = 0; i < 3; ++i) EXPECT_TRUE(poster->Post(0x8308, 0, 0));
    });
    EXPECT_TRUE(v.Pump(5000, [&] { return logic.messages.size() == 4; }));
    worker.join();
  });
  RunDialog(logic, IDD_SCAN);
  EXPECT_EQ((std::vector<std::uint32_t>{0x8001, 0x8308, 0x8308, 0x8308}), logic.messages);
  ASSERT_NE(nullptr, poster);
  EXPECT_FALSE(poster->Post(0x8308, 0, 0)) << "a message for a closed dialog is lost";
}

TEST(HeadlessView, MessageBoxesAreAnsweredInOrderThenCautiously) {
  HeadlessDesk desk;
  es::ModuleStateScope strings;
  desk.AddAnswer(es::kIdYes);
  Recorder logic;
  std::vector<int> answers;
  logic.init = [&](es::IDialogView& v) {
    answers.push_back(v.MessageBoxId(IDS_ASK_REMOVE, es::kMbYesNo));
    answers.push_back(v.MessageBoxId(IDS_ASK_REMOVE, es::kMbYesNo));
    answers.push_back(v.MessageBoxText(u"plain", es::kMbOk));
  };
  RunDialog(logic, IDD_CONFIGURE);
  EXPECT_EQ((std::vector<int>{es::kIdYes, es::kIdNo, es::kIdOk}), answers);
  ASSERT_EQ(3u, desk.boxes.size());
  EXPECT_EQ(u"Do you want to remove registration of selected External Storage?", desk.boxes[0].text);
  EXPECT_EQ(u"plain", desk.boxes[2].text);
  EXPECT_EQ(IDD_CONFIGURE, desk.boxes[2].templateId);
}

}  // namespace
