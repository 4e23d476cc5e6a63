// The contract every dialog view keeps (ui/DialogView.h), written once and run against
// each view: ViewContractTest.cpp holds the cases, each test program names its views
// (HeadlessViewTest.cpp, tests/win32ui/Win32ViewTest.cpp).
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ui/DialogView.h"

namespace viewtest {

using es::IDialogView;
using es::Str;

// The probe logic runs the function an lParam of this message points at (a
// `std::function<bool(IDialogView&)>`) on the dialog's thread and returns its result.
inline constexpr std::uint32_t kCallMessage = 0x8000 + 0x3F0;

// Someone in front of the running dialog: acts as a user would, from outside its handlers.
class User {
 public:
  virtual ~User() = default;
  virtual bool Click(int id) = 0;  // false when a user could not: disabled or hidden
  virtual void ComboDown(int id) = 0;  // the down arrow in a closed drop-down list
  virtual void DoubleClickRow(int id, int row) = 0;
  virtual void PressF1() = 0;
  virtual void PressEscape() = 0;
  virtual void CloseBox() = 0;
  // A click whose handler shows a message box, answered with `answer`; the box's text.
  virtual Str ClickAnswering(int id, int answer) = 0;
  // Runs `check` on the dialog's thread, letting posted messages through, until it holds
  // (5 seconds at most).
  virtual bool Until(const std::function<bool(IDialogView&)>& check) = 0;
  void On(const std::function<void(IDialogView&)>& act) {
    Until([&](IDialogView& v) { return act(v), true; });
  }
};

// Records every event in arrival order; hooks act inside the handlers.
class Probe : public es::CDialogLogic {
 public:
  std::function<void(IDialogView&)> init, destroy;
  std::function<void(IDialogView&, int)> command;
  std::function<std::intptr_t(IDialogView&, std::uint32_t)> message;  // instead of recording it
  std::vector<std::string> events;

  bool OnInitDialog() override {
    events.push_back("init");
    if (init) init(View());
    return true;
  }
  void OnCommand(int id, es::Command code) override {
    events.push_back((code == es::Command::kClicked ? "clicked " : "selchange ") + std::to_string(id));
    if (command) command(View(), id);
  }
  void OnNotify(int id, es::Notify code) override {
    static const char* const names[] = {"itemchanged ", "dblclk ", "setfocus "};
    events.push_back(names[static_cast<int>(code)] + std::to_string(id));
  }
  bool OnHelp() override {
    events.push_back("help");
    return true;
  }
  std::intptr_t OnMessage(std::uint32_t m, std::uintptr_t w, std::intptr_t l) override {
    if (m == kCallMessage) return (*reinterpret_cast<const std::function<bool(IDialogView&)>*>(l))(View());
    if (message) return message(View(), m);
    events.push_back("message " + std::to_string(m) + " " + std::to_string(w) + " " + std::to_string(l));
    return 0;
  }
  void OnCancel() override {
    events.push_back("cancel");
    CDialogLogic::OnCancel();
  }
  void OnDestroy() override {
    events.push_back("destroy");
    if (destroy) destroy(View());
  }
  int Count(const std::string& event) const { return static_cast<int>(std::count(events.begin(), events.end(), event)); }
};

struct ViewKind {
  const char* name;
  // Runs `logic` modally in a new view of `templateId` while `script` acts; when the
  // script ends with the dialog still open, the user closes it.
  int (*run)(int templateId, es::CDialogLogic& logic, const std::function<void(User&)>& script);
  // `units` (dialog units) in pixels, as the running view converts them.
  es::Rect (*pixels)(IDialogView& view, es::Rect units);
};

// Defined by each test program: the views it runs the contract against.
std::vector<ViewKind> Kinds();

inline void PrintTo(const ViewKind& kind, std::ostream* out) { *out << kind.name; }
inline std::string ViewName(const ::testing::TestParamInfo<ViewKind>& info) { return info.param.name; }

}  // namespace viewtest
