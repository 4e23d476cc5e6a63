// The configure and edit dialogs and the element's configure entry on the headless view:
// tables of scripts, each row a user's session and what it leaves behind.
#include <algorithm>
#include <map>
#include <stdexcept>

#include "frame/Element.h"
#include "frame/VAVudiImplement.h"
#include "resources/ResourceIds.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Capture.h"
#include "tests/ui/DialogTestSupport.h"
#include "ui/DlgCfg.h"
#include "ui/EditESDlg.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Rect;
using es::Str;
using es::platform::kPathSep;
using Script = std::function<void(HeadlessView&)>;

constexpr int kList = IDC_STORAGE_LIST;
constexpr std::uint32_t kBoth = es::kLvisSelected | es::kLvisFocused;

std::vector<Str> Column(const es::IDialogView& v, int column) {
  std::vector<Str> out;
  for (int r = 0; r < v.ItemCount(kList); ++r) out.push_back(v.ItemText(kList, r, column));
  return out;
}

// Storages a (named "Alpha"), b ("Beta") and c ("Gamma") below a temporary folder, and the
// configure dialog with them registered as c, a, b; b's name not known to it.
class Dialogs : public ::testing::Test {
 protected:
  Dialogs() : configure(nullptr) {
    a = Add("a", "Alpha\r\nsecond line");
    b = Add("b", "Beta");
    c = Add("c", "Gamma\r\n");
    Reset();
  }
  void Reset() {
    configure.registeredDirectories = {c, a, b};
    configure.storageNames = {u"Gamma", u"Alpha", u""};
    configure.selectedDirectory.clear();
    configure.deleteImages = configure.deleteGroupFolder = 1;
    configure.allowScan = true;
    desk.boxes.clear();
  }
  // A storage directory with its description file.
  Str Add(const std::string& name, const std::string& description) {
    storages.Write(name + "/ESDesc.txt", description);
    return storages.Path(es::FromUtf8(name));
  }
  // A directory below the storages' folder by its relative name, others as they are.
  std::string Name(const Str& dir) const {
    const Str root = storages.Path() + kPathSep;
    return es::ToUtf8(dir.compare(0, root.size(), root) == 0 ? dir.substr(root.size()) : dir);
  }
  std::string Names(const std::vector<Str>& dirs) const {
    std::string out;
    for (const Str& dir : dirs) out += (out.empty() ? "" : ",") + Name(dir);
    return "[" + out + "]";
  }
  // The message boxes shown, by string and style.
  std::string Boxes() const {
    const std::map<std::uint32_t, std::string> names{{IDS_ASK_REMOVE, "remove"}, {IDS_ASK_CLOSE_EMPTY, "empty"},
                                                     {IDS_INVALID_DIRECTORY, "invalid"}, {IDS_ALREADY_REGISTERED, "registered"}};
    std::string out;
    for (const auto& box : desk.boxes) {
      char style[16];
      std::snprintf(style, sizeof style, ":%x", box.style);
      out += (out.empty() ? "" : ",") + names.at(box.stringId) + style;
    }
    return out;
  }
  // Runs the edit dialog for row `index` of a configure list holding `rows`.
  std::string Edit(const std::vector<Str>& rows, const Str& start, int index, const Script& script,
                   std::optional<Str> caption = std::nullopt) {
    struct Host : es::CDialogLogic {
      std::function<void()> body;
      bool OnInitDialog() override { return body(), true; }
    } host;
    std::string out;
    host.body = [&] {
      for (const Str& row : rows) host.View().InsertItem(kList, row);
      es::CEditESDlg edit(es::ListRef{&host.View(), kList}, start, caption, index, host.View().Handle());
      desk.AddScript(IDD_EDIT_STORAGE, script);
      const int result = edit.DoModal();
      out = std::to_string(result) + " " + Name(edit.directory) + " boxes=" + Boxes();
    };
    es::CreateView(nullptr, IDD_CONFIGURE)->RunModal(host);
    return out;
  }

  es::ModuleStateScope strings;  // the module's texts
  HeadlessDesk desk;
  estest::TempFolder storages;
  es::CDlgConfigure configure;
  Str a, b, c;
};

Script TypeAndOk(const Str& text) {
  return [text](HeadlessView& v) {
    v.TypeText(IDC_DIRECTORY, text);
    v.Click(es::kIdOk);
  };
}
// A text refused as no directory: the focus goes back to it.
Script TypeAndOkInvalid(const Str& text) {
  return [text](HeadlessView& v) {
    TypeAndOk(text)(v);
    EXPECT_EQ(IDC_DIRECTORY, v.FocusedControl());
  };
}

TEST_F(Dialogs, ConfigureSessions) {
  struct Row {
    const char* name;
    std::function<void()> setup;
    std::vector<int> answers;
    Script script;
    std::string expected;  // result, registered, selected, switches (live: the caller takes them on OK), boxes
  };
  std::map<bool, std::map<int, Rect>> at;  // OK, Cancel and Scan & Close at the start, by allowScan
  const Row rows[] = {
      {"lists the storages sorted with names and selects the selected one", [&] { configure.selectedDirectory = c; }, {},
       [&](HeadlessView& v) {
         EXPECT_EQ((std::vector<Str>{a, b, c}), Column(v, 0));
         EXPECT_EQ((std::vector<Str>{u"Alpha", u"<not found>", u"Gamma"}), Column(v, 1));
         EXPECT_EQ(kBoth, v.ItemState(kList, 2, kBoth));
         EXPECT_TRUE(v.IsControlEnabled(IDC_EDIT) && v.IsControlEnabled(IDC_REMOVE) && v.IsControlEnabled(IDC_SCAN));
         EXPECT_EQ((std::vector<Str>{u"Directory", u"Name"}), (std::vector<Str>{v.ColumnText(kList, 0), v.ColumnText(kList, 1)}));
         EXPECT_EQ(v.ListClientWidth(kList) / 2, v.ColumnWidth(kList, 1));
         EXPECT_FALSE(v.WaitCursor());
         EXPECT_EQ(1, v.WaitCursorCount());
         v.Click(es::kIdOk);
       },
       "1 [a,b,c] sel=c img=1 grp=1 boxes="},
      {"without a selected row the row buttons wait for a click", [&] { configure.selectedDirectory = u"elsewhere"; }, {},
       [](HeadlessView& v) {
         EXPECT_EQ(-1, v.NextSelected(kList, -1));
         EXPECT_FALSE(v.IsControlEnabled(IDC_EDIT) || v.IsControlEnabled(IDC_REMOVE) || v.IsControlEnabled(IDC_SCAN));
         v.ClickRow(kList, 0);
         EXPECT_TRUE(v.IsControlEnabled(IDC_EDIT));
       },
       "2 [c,a,b] sel=elsewhere img=1 grp=1 boxes="},
      {"remove asks, selects the next or the previous row; cancel takes nothing over",
       [&] { configure.selectedDirectory = a; }, {es::kIdNo, es::kIdYes, es::kIdYes, es::kIdYes},
       [&](HeadlessView& v) {
         v.ClickRow(kList, 1);
         v.Click(IDC_REMOVE);  // No
         EXPECT_EQ(3, v.ItemCount(kList));
         v.Click(IDC_REMOVE);  // the middle row: the next one moves up and is selected
         EXPECT_EQ((std::vector<Str>{a, c}), Column(v, 0));
         EXPECT_EQ(kBoth, v.ItemState(kList, 1, kBoth));
         v.Click(IDC_REMOVE);  // the last row: the one above is selected
         EXPECT_EQ(kBoth, v.ItemState(kList, 0, kBoth));
         EXPECT_EQ(kList, v.FocusedControl());
         v.Click(IDC_REMOVE);  // the only row
         EXPECT_EQ(0, v.ItemCount(kList));
         EXPECT_FALSE(v.IsControlEnabled(IDC_EDIT) || v.IsControlEnabled(IDC_REMOVE) || v.IsControlEnabled(IDC_SCAN));
         v.Click(IDC_DELETE_IMAGES);
         v.Click(es::kIdCancel);
       },
       "2 [c,a,b] sel=a img=0 grp=0 boxes=remove:124,remove:124,remove:124,remove:124"},
      {"Delete Group Folder only while Delete Images is on", [&] { configure.deleteImages = 0; }, {},
       [&](HeadlessView& v) {
         EXPECT_FALSE(v.IsChecked(IDC_DELETE_IMAGES) || v.IsChecked(IDC_DELETE_GROUP_FOLDER));
         EXPECT_FALSE(v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
         v.Click(IDC_DELETE_IMAGES);  // usable again, still unchecked
         EXPECT_TRUE(v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
         EXPECT_FALSE(v.IsChecked(IDC_DELETE_GROUP_FOLDER));
         v.Click(IDC_DELETE_GROUP_FOLDER);
         EXPECT_EQ(1, configure.deleteGroupFolder);
         v.Click(IDC_DELETE_IMAGES);  // off: takes Delete Group Folder with it
         EXPECT_FALSE(v.IsChecked(IDC_DELETE_GROUP_FOLDER) || v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
         v.Click(IDC_DELETE_IMAGES);
         v.Click(es::kIdOk);
       },
       "1 [a,b,c] sel= img=1 grp=0 boxes="},
      {"a cancelled edit keeps the row and selects it",
       [&] {
         desk.AddScript(IDD_EDIT_STORAGE, [&](HeadlessView& v) {
           EXPECT_EQ(b, v.ControlText(IDC_DIRECTORY));
           v.TypeText(IDC_DIRECTORY, u"whatever");
           v.Click(es::kIdCancel);
         });
       },
       {},
       [&](HeadlessView& v) {
         v.ClickRow(kList, 1);
         v.SetItemState(kList, 1, es::kLvisSelected, kBoth);  // selected, focus elsewhere
         v.Click(IDC_EDIT);
         EXPECT_EQ((std::vector<Str>{a, b, c}), Column(v, 0));
         EXPECT_EQ(kBoth, v.ItemState(kList, 1, kBoth));
         v.Click(es::kIdOk);
       },
       "1 [a,b,c] sel=b img=1 grp=1 boxes="},
      {"edit and register place the new directory in order with its name",
       [&] {
         const Str d = Add("d", "Delta\r\n"), aa = Add("aa", "Double A");
         desk.AddScript(IDD_EDIT_STORAGE, TypeAndOk(d));  // Edit, by double click on a
         desk.AddScript(IDD_EDIT_STORAGE, [aa](HeadlessView& v) {  // Register
           EXPECT_EQ(u"Register External Storage", v.Caption());
           TypeAndOk(aa)(v);
         });
       },
       {},
       [&](HeadlessView& v) {
         v.DoubleClickRow(kList, 0);
         EXPECT_EQ((std::vector<Str>{u"Gamma", u"Delta"}), (std::vector<Str>{v.ItemText(kList, 1, 1), v.ItemText(kList, 2, 1)}));
         EXPECT_EQ(kBoth, v.ItemState(kList, 2, kBoth));
         v.Click(IDC_REGISTER);
         EXPECT_EQ(u"Double A", v.ItemText(kList, 0, 1));
         EXPECT_EQ(kBoth, v.ItemState(kList, 0, kBoth));
         EXPECT_EQ(0u, v.ItemState(kList, 3, kBoth));
         v.Click(es::kIdOk);
       },
       "1 [aa,b,c,d] sel=aa img=1 grp=1 boxes="},
      {"an empty list asks before closing; no row keeps the selected directory",
       [&] {
         configure.registeredDirectories = {u"stale"};
         configure.selectedDirectory = u"kept";
       },
       {es::kIdYes, es::kIdNo, es::kIdYes},
       [](HeadlessView& v) {
         v.ClickRow(kList, 0);
         v.Click(IDC_REMOVE);
         v.Click(es::kIdOk);  // No: stays
         EXPECT_TRUE(v.Running());
         v.Click(es::kIdOk);
       },
       "1 [] sel=kept img=1 grp=1 boxes=remove:124,empty:34,empty:34"},
      {"a question nobody answers is answered No", {}, {},
       [](HeadlessView& v) { v.ClickRow(kList, 0); v.Click(IDC_REMOVE); v.Click(es::kIdOk); },
       "1 [a,b,c] sel=a img=1 grp=1 boxes=remove:124"},
      {"a caption format takes the display name once; without Scan & Close, OK and Cancel move right",
       [&] {
         configure.captionGiven = true;
         configure.captionFormat = u"Setup of %s (100%%)";
         configure.allowScan = false;
       },
       {},
       [](HeadlessView& v) {
         EXPECT_EQ(u"Setup of External Storage (100%)", v.Caption());
         EXPECT_FALSE(v.IsControlVisible(IDC_SCAN) || v.IsControlEnabled(IDC_SCAN));
       },
       "2 [c,a,b] sel= img=1 grp=1 boxes="},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    if (row.setup) row.setup();
    for (int answer : row.answers) desk.AddAnswer(answer);
    desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
      for (int id : {es::kIdOk, es::kIdCancel, IDC_SCAN}) at[configure.allowScan][id] = v.ControlRect(id);
      row.script(v);
    });
    const int result = configure.DoModal();
    EXPECT_EQ(row.expected, std::to_string(result) + " " + Names(configure.registeredDirectories) +
                                " sel=" + Name(configure.selectedDirectory) + " img=" + std::to_string(configure.deleteImages) +
                                " grp=" + std::to_string(configure.deleteGroupFolder) + " boxes=" + Boxes());
    EXPECT_FALSE(configure.captionGiven);
  }
  const int shift = at[true][IDC_SCAN].right - at[true][es::kIdCancel].right;  // the hidden button's offset
  EXPECT_GT(shift, 0);
  for (int id : {es::kIdOk, es::kIdCancel}) {
    const Rect r = at[true][id];
    EXPECT_EQ((Rect{r.left + shift, r.top, r.right + shift, r.bottom}), at[false][id]) << id;
  }
}

class ThrowingView : public HeadlessView {
 public:
  using HeadlessView::HeadlessView;
  bool MonitorWorkArea(Rect*) const override { throw std::runtime_error("no monitor"); }
  static std::unique_ptr<es::IDialogView> Create(WindowHandle parent, int id) { return std::make_unique<ThrowingView>(parent, id); }
};

// Below the list everything moves up by what the window loses; the list shrinks by it.
TEST_F(Dialogs, ConfigureFitsItsHeightIntoNinetyPercentOfTheWorkArea) {
  const std::vector<int> moveUp{IDC_DELETE_IMAGES, IDC_DELETE_GROUP_FOLDER, es::kIdOk, es::kIdCancel, IDC_SCAN, IDC_HELP_BUTTON};
  struct Row {
    const char* name;
    int height;  // of the window before it is fitted
    bool workArea;
    bool throws;  // the monitor query fails the way a broken window would
    int fitted;
    std::string traced;
  };
  const Row rows[] = {
      {"too high", 950, true, false, 900, "7 DlgCfg Configure external storage dialog: resize height to 900"},
      {"fits", 900, true, false, 900, ""},
      {"no monitor data", 5000, false, false, 5000, ""},
      {"an error while fitting is traced and the dialog goes on", 950, true, true, 950, "6 DlgCfg internal error occurred"},
  };
  desk.workArea = Rect{0, 0, 1600, 1000};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    desk.workAreaAvailable = row.workArea;
    estest::TraceCapture trace;
    const es::ViewFactory previous = es::SetViewFactory(row.throws ? &ThrowingView::Create : &es::CreateHeadlessView);
    std::map<int, Rect> before, after;  // 0: the window
    auto record = [&](HeadlessView& v, std::map<int, Rect>& rects) {
      rects[0] = v.WindowRect();
      for (int id : {kList, IDC_REGISTER, IDC_EDIT, IDC_REMOVE}) rects[id] = v.ControlRect(id);
      for (int id : moveUp) rects[id] = v.ControlRect(id);
    };
    desk.AddScript(IDD_CONFIGURE, es::HeadlessScript{[&](HeadlessView& v) {
                                                       Rect r = v.WindowRect();
                                                       r.bottom = r.top + row.height;
                                                       v.MoveWindowTo(r, es::kNoMove | es::kNoZOrder);
                                                       record(v, before);
                                                     },
                                                     [&](HeadlessView& v) {
                                                       record(v, after);
                                                       EXPECT_EQ(3, v.ItemCount(kList));
                                                     }});
    configure.DoModal();
    es::SetViewFactory(previous);
    EXPECT_EQ(row.fitted, after[0].Height());
    const int d = row.height - row.fitted;
    for (const auto& [id, r] : before) {
      const int up = static_cast<int>(std::count(moveUp.begin(), moveUp.end(), id)) * d, shrink = id == 0 || id == kList ? d : 0;
      EXPECT_EQ((Rect{r.left, r.top - up, r.right, r.bottom - up - shrink}), after[id]) << id;
    }
    std::string traced;  // "severity source text"
    for (const auto& l : trace.Lines()) traced += std::to_string(l.severity) + " " + l.source + " " + es::ToUtf8(l.text);
    EXPECT_EQ(row.traced, traced);
  }
}

TEST_F(Dialogs, EditSessions) {
  storages.Write("plain.txt", "not a folder");
  uitest::SetVariable("ES_DLG_TEST_ROOT", es::ToUtf8(storages.Path()));
  const Str sep(1, kPathSep), ref = u"%ES_DLG_TEST_ROOT%" + sep;
  Str upper = a;  // made here, not by the case folding under test
  for (char16_t& ch : upper) ch = ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
  // A refused text stays in the dialog's directory, which the caller takes only on OK.
  const std::string registered = " boxes=registered:10";
  const Str file = storages.Path(u"plain.txt"), tooLong = storages.Path() + sep + Str(300, u'x');
  struct Row {
    const char* name;
    std::vector<Str> rows;
    Str start;
    int index;
    Script script;
    std::string expected;  // result, directory, boxes
    std::optional<Str> caption = std::nullopt;
  };
  const Row rows[] = {
      {"its own unchanged directory, under the template's caption", {a}, a, 0,
       [&](HeadlessView& v) {
         EXPECT_EQ(a, v.ControlText(IDC_DIRECTORY));
         EXPECT_EQ(u"Edit External Storage", v.Caption());
         v.Click(es::kIdOk);
       },
       "1 a boxes="},
      {"nothing typed", {}, u"", -1, TypeAndOkInvalid(u""), "2  boxes=invalid:10"},
      {"a file", {}, u"", -1, TypeAndOkInvalid(file), "2 plain.txt boxes=invalid:10"},
      {"a missing directory", {}, u"", -1, TypeAndOkInvalid(storages.Path(u"missing")), "2 missing boxes=invalid:10"},
      {"too long once expanded", {}, u"", -1, TypeAndOkInvalid(tooLong), "2 " + std::string(300, 'x') + " boxes=invalid:10"},
      {"registered in upper case", {b, upper}, u"", -1, TypeAndOk(a), "2 a" + registered},
      {"registered with a trailing separator", {b, a + sep}, u"", -1, TypeAndOk(a), "2 a" + registered},
      {"registered as typed", {b, a}, u"", -1, TypeAndOk(a), "2 a" + registered},
      {"typed with a trailing separator", {a}, u"", -1, TypeAndOk(a + sep), "2 a" + es::ToUtf8(sep) + registered},
      {"editing row 0 into row 1", {a, b}, a, 0, TypeAndOk(b), "2 b" + registered},
      {"a reference naming a registered directory", {a}, u"", -1, TypeAndOk(ref + u"a"), "2 " + es::ToUtf8(ref) + "a" + registered},
      {"a reference, kept as typed", {a}, u"", -1, TypeAndOk(ref + u"b"), "1 " + es::ToUtf8(ref) + "b boxes="},
      {"a registered reference", {ref + u"b"}, u"", -1, TypeAndOk(b), "2 b" + registered},
      {"a refusal keeps the dialog open until the text is fixed", {}, u"", -1,
       [&](HeadlessView& v) {
         TypeAndOkInvalid(storages.Path(u"nothing"))(v);
         EXPECT_TRUE(v.Running());
         v.TypeText(IDC_DIRECTORY, a);
         v.PressEnter();
       },
       "1 a boxes=invalid:10"},
      {"cancel keeps the given text", {}, a, 0,
       [](HeadlessView& v) {
         v.TypeText(IDC_DIRECTORY, u"changed");
         v.PressEscape();
       },
       "2 a boxes="},
      {"the browser fills in only a chosen path that fits", {}, u"start", -1,
       [&](HeadlessView& v) {
         desk.browseResults = {std::nullopt, storages.Path() + sep + Str(270, u'y'), a};
         std::vector<Str> texts;
         for (int i = 0; i < 3; ++i) texts.push_back((v.Click(IDC_BROWSE), v.ControlText(IDC_DIRECTORY)));
         EXPECT_EQ((std::vector<Str>{u"start", u"start", a}), texts);
         ASSERT_EQ(3u, desk.browses.size());
         EXPECT_EQ(u"start", desk.browses[0].initialPath);
         EXPECT_EQ(u"Select Directory", desk.browses[0].title);
       },
       "2 start boxes="},
      {"registering: the caption given, file-system completion", {}, u"", -1,
       [&](HeadlessView& v) {
         EXPECT_EQ(u"Register External Storage", v.Caption());
         EXPECT_TRUE(v.AutoCompleteOn(IDC_DIRECTORY));
         TypeAndOk(a)(v);
       },
       "1 a boxes=", Str(u"Register External Storage")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    desk.boxes.clear();
    EXPECT_EQ(row.expected, Edit(row.rows, row.start, row.index, row.script, row.caption));
  }
}

// The element's configure entry: the dialog runs on the element's settings, which change
// only when it is accepted; the names are then re-read from the storages.
TEST_F(Dialogs, ConfigureEntrySessions) {
  struct Row {
    const char* name;
    std::vector<int> answers;
    bool allowScan;
    const char16_t* caption;
    bool captionGiven;
    Script script;
    std::string expected;  // result, directories, names, selected path, DeleteFaxes, DeleteGroupFolder, AllowRescanning
  };
  const std::string unchanged = "1 [b,a,c] [old b,old a,old c] sel=b 1 1 0";
  const Row rows[] = {
      {"cancel changes nothing; a caption format not given", {es::kIdYes}, false, u"%s settings", false,
       [](HeadlessView& v) {
         EXPECT_EQ(u"Configure External Storage", v.Caption());
         v.ClickRow(kList, 0);
         v.Click(IDC_REMOVE);
         v.Click(IDC_DELETE_IMAGES);
       },
       unchanged},
      {"OK after removing one of three takes two with fresh names", {es::kIdYes}, true, nullptr, false,
       [](HeadlessView& v) {
         EXPECT_EQ(1, v.NextSelected(kList, -1)) << "the selected path is preselected";
         v.ClickRow(kList, 0);
         v.Click(IDC_REMOVE);
         v.Click(IDC_DELETE_IMAGES);
         v.Click(es::kIdOk);
       },
       "0 [b,c] [Beta,Gamma] sel=b 0 0 0"},
      {"Scan & Close takes over and answers 15001", {}, true, nullptr, false,
       [](HeadlessView& v) {
         v.ClickRow(kList, 2);
         v.Click(IDC_SCAN);
       },
       "15001 [a,b,c] [Alpha,Beta,Gamma] sel=c 1 1 0"},
      {"a caption format given", {}, false, u"%s settings", true,
       [](HeadlessView& v) { EXPECT_EQ(u"External Storage settings", v.Caption()); }, unchanged},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    es::CElement* element = new es::CElement(&es::kElementTypeDescriptor);
    element->directories = {b, a, c};
    element->storageNames = {u"old b", u"old a", u"old c"};  // stale: re-read after OK
    element->SelectedPath = b;
    element->DeleteFaxes = element->DeleteGroupFolder = 1;
    element->AllowRescanning = 0;
    for (int answer : row.answers) desk.AddAnswer(answer);
    desk.AddScript(IDD_CONFIGURE, row.script);
    const int result = element->Configure(nullptr, row.allowScan, row.caption, row.captionGiven);
    EXPECT_EQ(row.expected, std::to_string(result) + " " + Names(element->directories) + " " + Names(element->storageNames) +
                                " sel=" + Name(element->SelectedPath) + " " + std::to_string(element->DeleteFaxes) + " " +
                                std::to_string(element->DeleteGroupFolder) + " " + std::to_string(element->AllowRescanning));
    element->DeleteThis();
  }
}

}  // namespace
