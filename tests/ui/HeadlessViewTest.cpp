// The headless view under the view contract: a user acting through the desk's scripts and
// its queued message box answers.
#include <cmath>

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

}  // namespace

std::vector<viewtest::ViewKind> viewtest::Kinds() { return {{"Headless", &RunHeadless, &HeadlessPixels}}; }
