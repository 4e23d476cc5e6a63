// The edit storage dialog: a directory is accepted only when it exists and no other row
// names it, after expansion, whatever the letter case or a trailing separator.
#include <optional>

#include "tests/support/Capture.h"
#include "resources/ResourceIds.h"
#include "tests/ui/DialogTestSupport.h"
#include "ui/EditESDlg.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Str;
using es::platform::kPathSep;

// The configure dialog's list, filled with `rows`, hosts one edit dialog run.
struct EditRun {
  int result = 0;
  Str directory;
  Str caption;
  bool autoComplete = false;
  int focus = 0;
  Str shownText;
};

EditRun RunEdit(HeadlessDesk& desk, const std::vector<Str>& rows, const Str& start, int index,
                const std::function<void(HeadlessView&)>& actions, std::optional<Str> caption = std::nullopt) {
  EditRun out;
  struct Host : es::CDialogLogic {
    std::function<void()> body;
    bool OnInitDialog() override {
      body();
      return true;
    }
  } host;
  host.body = [&] {
    for (const Str& row : rows) host.View().InsertItem(IDC_STORAGE_LIST, row);
    es::CEditESDlg edit(es::ListRef{&host.View(), IDC_STORAGE_LIST}, start, caption, index, host.View().Handle());
    desk.AddScript(IDD_EDIT_STORAGE, [&](HeadlessView& v) {
      out.caption = v.Caption();
      out.autoComplete = v.AutoCompleteOn(IDC_DIRECTORY);
      out.shownText = v.ControlText(IDC_DIRECTORY);
      actions(v);
      out.focus = v.FocusedControl();
    });
    out.result = edit.DoModal();
    out.directory = edit.directory;
  };
  es::CreateView(nullptr, IDD_CONFIGURE)->RunModal(host);
  return out;
}

std::function<void(HeadlessView&)> TypeAndOk(const Str& text) {
  return [text](HeadlessView& v) {
    v.TypeText(IDC_DIRECTORY, text);
    v.Click(es::kIdOk);
  };
}

std::vector<std::uint32_t> BoxIds(const HeadlessDesk& desk) {
  std::vector<std::uint32_t> ids;
  for (const auto& box : desk.boxes) ids.push_back(box.stringId);
  return ids;
}

class EditStorageDialog : public ::testing::Test {
 protected:
  es::ModuleStateScope strings;  // the module's texts
  HeadlessDesk desk;
  uitest::Storages storages;
};

TEST_F(EditStorageDialog, AcceptsAnExistingDirectoryAsTyped) {
  const Str a = storages.Add("alpha", "Alpha\r\n");
  const EditRun run = RunEdit(desk, {}, u"", -1, TypeAndOk(a), Str(u"Register External Storage"));
  EXPECT_EQ(es::kIdOk, run.result);
  EXPECT_EQ(a, run.directory) << "no separator added to the text kept";
  EXPECT_EQ(u"Register External Storage", run.caption);
  EXPECT_TRUE(run.autoComplete);
  EXPECT_TRUE(desk.boxes.empty());
}

TEST_F(EditStorageDialog, ShowsTheGivenTextAndKeepsTheTemplateCaptionWithoutOne) {
  const Str a = storages.Add("alpha");
  const EditRun run = RunEdit(desk, {a}, a, 0, [](HeadlessView& v) { v.Click(es::kIdOk); });
  EXPECT_EQ(a, run.shownText);
  EXPECT_EQ(u"Edit External Storage", run.caption);
  // Its own unchanged directory: the edited row is left out of the duplicate check.
  EXPECT_EQ(es::kIdOk, run.result);
  EXPECT_EQ(a, run.directory);
}

TEST_F(EditStorageDialog, RefusesWhatIsNoDirectory) {
  storages.WriteFile("plain.txt", "not a folder");
  const Str file = storages.Dir("plain.txt");
  // Too long once expanded: 300 characters cannot be a directory of the storage.
  const Str tooLong = storages.Root() + kPathSep + Str(300, u'x');
  for (const Str& text : {Str(), file, storages.Dir("missing"), tooLong}) {
    desk.boxes.clear();
    const EditRun run = RunEdit(desk, {}, u"", -1, TypeAndOk(text));
    EXPECT_EQ(es::kIdCancel, run.result) << uitest::U8(text);
    EXPECT_EQ(std::vector<std::uint32_t>{IDS_INVALID_DIRECTORY}, BoxIds(desk)) << uitest::U8(text);
    ASSERT_FALSE(desk.boxes.empty());
    EXPECT_EQ(u"A valid directory must be specified.", desk.boxes[0].text);
    EXPECT_EQ(es::kMbOk | es::kMbIconStop, desk.boxes[0].style);
    EXPECT_EQ(IDC_DIRECTORY, run.focus);
  }
}

TEST_F(EditStorageDialog, RefusesADirectoryRegisteredInAnotherRow) {
  const Str a = storages.Add("alpha");
  const Str b = storages.Add("beta");
  // Registered in upper case (made here, not by the code under test), with a trailing
  // separator, and plainly.
  Str upper = a;
  for (char16_t& c : upper) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  for (const Str& registered : {upper, a + kPathSep, a}) {
    desk.boxes.clear();
    const EditRun run = RunEdit(desk, {b, registered}, u"", -1, TypeAndOk(a));
    EXPECT_EQ(es::kIdCancel, run.result) << uitest::U8(registered);
    EXPECT_EQ(std::vector<std::uint32_t>{IDS_ALREADY_REGISTERED}, BoxIds(desk)) << uitest::U8(registered);
  }
  // The typed text with a separator matches the registered one without.
  desk.boxes.clear();
  EXPECT_EQ(es::kIdCancel, RunEdit(desk, {a}, u"", -1, TypeAndOk(a + kPathSep)).result);
  EXPECT_EQ(std::vector<std::uint32_t>{IDS_ALREADY_REGISTERED}, BoxIds(desk));
  // Editing row 0 into the directory of row 1.
  desk.boxes.clear();
  EXPECT_EQ(es::kIdCancel, RunEdit(desk, {a, b}, a, 0, TypeAndOk(b)).result);
  EXPECT_EQ(std::vector<std::uint32_t>{IDS_ALREADY_REGISTERED}, BoxIds(desk));
}

TEST_F(EditStorageDialog, ExpandsEnvironmentReferencesForTheChecksOnly) {
  const Str a = storages.Add("alpha");
  storages.Add("beta");
  uitest::SetVariable("ES_DLG_TEST_ROOT", uitest::U8(storages.Root()));
  const Str sep(1, kPathSep);
  const EditRun refused = RunEdit(desk, {a}, u"", -1, TypeAndOk(u"%ES_DLG_TEST_ROOT%" + sep + u"alpha"));
  EXPECT_EQ(es::kIdCancel, refused.result);
  EXPECT_EQ(std::vector<std::uint32_t>{IDS_ALREADY_REGISTERED}, BoxIds(desk));

  desk.boxes.clear();
  const Str typed = u"%ES_DLG_TEST_ROOT%" + sep + u"beta";
  const EditRun accepted = RunEdit(desk, {a}, u"", -1, TypeAndOk(typed));
  EXPECT_EQ(es::kIdOk, accepted.result);
  EXPECT_EQ(typed, accepted.directory);
  // A registered row with a reference is compared by what it names too.
  desk.boxes.clear();
  EXPECT_EQ(es::kIdCancel, RunEdit(desk, {typed}, u"", -1, TypeAndOk(storages.Dir("beta"))).result);
  EXPECT_EQ(std::vector<std::uint32_t>{IDS_ALREADY_REGISTERED}, BoxIds(desk));
}

TEST_F(EditStorageDialog, StaysOpenAfterARefusalUntilTheUserFixesTheText) {
  const Str a = storages.Add("alpha");
  const EditRun run = RunEdit(desk, {}, u"", -1, [&](HeadlessView& v) {
    v.TypeText(IDC_DIRECTORY, storages.Dir("nothing"));
    v.Click(es::kIdOk);
    EXPECT_TRUE(v.Running());
    v.TypeText(IDC_DIRECTORY, a);
    v.PressEnter();
  });
  EXPECT_EQ(es::kIdOk, run.result);
  EXPECT_EQ(a, run.directory);
}

TEST_F(EditStorageDialog, CancelKeepsTheGivenText) {
  const Str a = storages.Add("alpha");
  const EditRun run = RunEdit(desk, {}, a, 0, [](HeadlessView& v) {
    v.TypeText(IDC_DIRECTORY, u"changed");
    v.PressEscape();
  });
  EXPECT_EQ(es::kIdCancel, run.result);
  EXPECT_EQ(a, run.directory);
}

TEST_F(EditStorageDialog, BrowserFillsTheEditOnlyWithAChosenPathThatFits) {
  const Str a = storages.Add("alpha");
  desk.browseResults.push_back(std::nullopt);
  desk.browseResults.push_back(storages.Root() + kPathSep + Str(270, u'y'));
  desk.browseResults.push_back(a);
  Str afterCancel, afterTooLong, afterChosen;
  RunEdit(desk, {}, u"start", -1, [&](HeadlessView& v) {
    v.Click(IDC_BROWSE);
    afterCancel = v.ControlText(IDC_DIRECTORY);
    v.Click(IDC_BROWSE);
    afterTooLong = v.ControlText(IDC_DIRECTORY);
    v.Click(IDC_BROWSE);
    afterChosen = v.ControlText(IDC_DIRECTORY);
  });
  EXPECT_EQ(u"start", afterCancel);
  EXPECT_EQ(u"start", afterTooLong);
  EXPECT_EQ(a, afterChosen);
  ASSERT_EQ(3u, desk.browses.size());
  EXPECT_EQ(u"start", desk.browses[0].initialPath);
  EXPECT_EQ(u"Select Directory", desk.browses[0].title);
}

TEST_F(EditStorageDialog, HelpShowsTheEditTopicFromButtonF1AndCommandHelp) {
  estest::MessageCapture capture;
  RunEdit(desk, {}, u"", -1, [](HeadlessView& v) {
    v.Click(IDC_HELP_BUTTON);
    v.PressF1();
    v.Post(es::kWmCommandHelp, 0, 0);
    v.Pump(0, nullptr);
  });
  ASSERT_EQ(3u, capture.boxes.size());
  for (const auto& box : capture.boxes) {
    EXPECT_EQ("ShowContextHelp", box.op);
    EXPECT_EQ(145154u, box.id);
    EXPECT_NE(nullptr, box.owner);
  }
}

}  // namespace
