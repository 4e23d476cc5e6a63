// The headless view: the view contract, and what only it has (its fixed geometry, the
// desk's scripts and scripted message box answers).
#include <cmath>

#include "resources/ResourceIds.h"
#include "tests/ui/DialogTestSupport.h"
#include "tests/ui/ViewContract.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using viewtest::IDialogView;
using viewtest::Str;

class HeadlessUser final : public viewtest::User {
 public:
  HeadlessUser(HeadlessDesk& desk, HeadlessView& view) : desk_(desk), v_(view) {}
  bool Click(int id) override { return v_.Click(id); }
  void ComboDown(int id) override { v_.ChooseComboItem(id, v_.CurSel(id) + 1); }
  void DoubleClickRow(int id, int row) override { v_.DoubleClickRow(id, row); }
  void PressF1() override { v_.PressF1(); }
  void PressEscape() override { v_.PressEscape(); }
  void CloseBox() override {}  // the end of the script is the user closing the window
  Str ClickAnswering(int id, int answer) override {
    desk_.AddAnswer(answer);
    const std::size_t before = desk_.boxes.size();
    v_.Click(id);
    return desk_.boxes.size() == before + 1 ? desk_.boxes.back().text : u"(no box)";
  }
  bool Until(const std::function<bool(IDialogView&)>& check) override {
    return v_.Pump(5000, [&] { return check(v_); });
  }

 private:
  HeadlessDesk& desk_;
  HeadlessView& v_;
};

int RunHeadless(int templateId, es::CDialogLogic& logic, const std::function<void(viewtest::User&)>& script) {
  HeadlessDesk desk;
  if (script) desk.AddScript(templateId, [&](HeadlessView& v) {
      HeadlessUser user(desk, v);
      script(user);
    });
  return es::CreateHeadlessView(nullptr, templateId)->RunModal(logic);
}

es::Rect HeadlessPixels(IDialogView&, es::Rect u) {
  auto x = [](int units) { return static_cast<int>(std::lround(units * es::kHeadlessDluX)); };
  auto y = [](int units) { return static_cast<int>(std::lround(units * es::kHeadlessDluY)); };
  return es::Rect{x(u.left), y(u.top), x(u.right), y(u.bottom)};
}

// Without a script the dialog ends cancelled; message boxes take the queued answers, then
// the cautious ones.
TEST(HeadlessView, HasAFixedGeometryAndAnswersBoxes) {
  es::ModuleStateScope strings;
  HeadlessDesk desk;
  desk.workArea = es::Rect{100, 50, 1300, 1010};
  desk.AddAnswer(es::kIdYes);
  std::vector<int> answers;
  es::Rect window;
  viewtest::Probe logic;
  logic.init = [&](IDialogView& v) {
    window = v.WindowRect();
    for (int i = 0; i < 2; ++i) answers.push_back(v.MessageBoxId(IDS_ASK_REMOVE, es::kMbYesNo));
    answers.push_back(v.MessageBoxText(u"plain", es::kMbOk));
  };
  EXPECT_EQ(es::kIdCancel, es::CreateView(nullptr, IDD_CONFIGURE)->RunModal(logic));
  EXPECT_EQ(-1, es::CreateHeadlessView(nullptr, 999)->RunModal(logic)) << "no such template";
  EXPECT_EQ(1, logic.Count("init"));
  // 354 x 365 units: 531 x 593 pixels inside a 3-pixel frame and a 26-pixel caption, at
  // the work area's top left (the controls' pixels: the view contract's geometry case).
  EXPECT_EQ((es::Rect{100, 50, 100 + 531 + 6, 50 + 593 + 29}), window);
  EXPECT_EQ((std::vector<int>{es::kIdYes, es::kIdNo, es::kIdOk}), answers);
  std::vector<std::string> boxes;  // dialog, string id (the texts: the view contract's message box case)
  for (const auto& box : desk.boxes) boxes.push_back(std::to_string(box.templateId) + " " + std::to_string(box.stringId));
  const std::string ask = std::to_string(IDD_CONFIGURE) + " " + std::to_string(IDS_ASK_REMOVE);
  EXPECT_EQ((std::vector<std::string>{ask, ask, std::to_string(IDD_CONFIGURE) + " 0"}), boxes);
}

}  // namespace

std::vector<viewtest::ViewKind> viewtest::Kinds() { return {{"Headless", &RunHeadless, &HeadlessPixels}}; }
