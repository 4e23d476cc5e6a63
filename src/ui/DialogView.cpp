#include "ui/DialogView.h"

#include <atomic>

#include "Brivel.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "platform/Platform.h"

namespace es {

Str LoadDialogString(std::uint32_t id) {
  char16_t buffer[1024] = {};
  const int n = platform::Os().LoadString(CurrentModuleState()->resources, id, buffer, 1024);
  return Str(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void CDialogLogic::OnOK() { View().EndDialog(kIdOk); }

void CDialogLogic::OnCancel() { View().EndDialog(kIdCancel); }

bool CDialogLogic::OnHelp() {
  if (templateId_ == 0) return false;
  ShowHelp();
  return true;
}

void CDialogLogic::ShowHelp() {
  if (templateId_ != 0) ShowContextHelp(View().Handle(), kHelpTopicBase + static_cast<std::uint32_t>(templateId_), 0);
}

namespace {

#if defined(_WIN32) && defined(ES_HAVE_WIN32_VIEW)
constexpr ViewFactory kDefaultFactory = &CreateWin32View;
#else
// No windows on this system (or the Win32 dialogs are not part of this build): the
// headless view, which without a script ends every modal run with Cancel.
constexpr ViewFactory kDefaultFactory = &CreateHeadlessView;
#endif

std::atomic<ViewFactory> g_factory{nullptr};

}  // namespace

ViewFactory SetViewFactory(ViewFactory factory) { return g_factory.exchange(factory); }

std::unique_ptr<IDialogView> CreateView(WindowHandle parent, int templateId) {
  ViewFactory factory = g_factory.load();
  return (factory != nullptr ? factory : kDefaultFactory)(parent, templateId);
}

}  // namespace es
