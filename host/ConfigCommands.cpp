// eshost register, edit, remove, set, storages and configure: the storages and deletion
// switches of the element, changed through the configure and edit dialogs' own logic.
//
// The dialogs run from eshost's own copy of the module's core on the headless view, with
// the user's steps as a script: `register DIR` presses Register, types DIR into the edit
// dialog and presses OK, so the edit dialog's checks (existing directory, not yet
// registered, after expansion, whatever the case or a trailing separator) decide. What
// the dialog accepts is written into the settings store under the element's own names
// and then loaded and saved by the element, so that its rules apply to what is kept.
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "frame/Element.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "host/Commands.h"
#include "host/Session.h"
#include "platform/Platform.h"
#include "resources/ResourceIds.h"
#include "storage/StorageName.h"
#include "ui/DlgCfg.h"
#include "ui/HeadlessView.h"

namespace eshost {

namespace {

using es::HeadlessView;
using es::Str;

constexpr int kList = IDC_STORAGE_LIST;

// The core's texts come from eshost's own copy of the string table while a command runs;
// the loaded module's state is not touched.
class OwnStrings {
 public:
  OwnStrings() {
    state_.instance = es::platform::ThisModuleHandle();
    state_.resources = state_.instance;
    previous_ = es::SwapModuleState(&state_);
  }
  ~OwnStrings() { es::SwapModuleState(previous_); }
  OwnStrings(const OwnStrings&) = delete;
  OwnStrings& operator=(const OwnStrings&) = delete;

 private:
  es::ModuleState state_;
  es::ModuleState* previous_ = nullptr;
};

// What a directory names, as the edit dialog compares registrations.
Str Key(const Str& directory) {
  Str expanded;
  if (!es::platform::Os().ExpandEnvironment(directory, 32768, &expanded)) expanded = directory;
  if (!es::EndsWithSeparator(expanded)) expanded.push_back(es::platform::kPathSep);
  return es::ToUpper(expanded);
}

// The row registered as `directory`: the same text, or else the same directory.
int FindRow(const es::IDialogView& view, const Str& directory) {
  const int count = view.ItemCount(kList);
  for (int row = 0; row < count; ++row)
    if (view.ItemText(kList, row, 0) == directory) return row;
  const Str key = Key(directory);
  for (int row = 0; row < count; ++row)
    if (Key(view.ItemText(kList, row, 0)) == key) return row;
  return -1;
}

// How the scripted dialog went.
struct Outcome {
  bool refused = false;  // the dialog refused the step; `message` says why
  bool declined = false;  // the user answered No
  std::string message;
};

bool SetValue(ISettingsStore* store, const Str& name, const std::function<HResult(Bstr)>& set) {
  Bstr b = es::platform::BstrAlloc(name.c_str(), name.size());
  const HResult hr = set(b);
  es::platform::BstrFree(b);
  return hr >= 0;
}

// Writes what the dialog accepted under the element's names, lets the element load and
// save it, and commits the file.
bool Save(Session& session, const ElementSettings& settings, const es::CDlgConfigure& dialog, std::ostream& err) {
  es::host::JsonSettingsStore* store = session.Store();
  auto setBool = [&](const Str& name, bool value) {
    return SetValue(store, name, [&](Bstr n) { return store->SetBool(n, value ? 1 : 0); });
  };
  auto setString = [&](const Str& name, const Str& value) {
    return SetValue(store, name, [&](Bstr n) {
      Bstr v = es::platform::BstrAlloc(value.c_str(), value.size());
      const HResult hr = store->SetString(n, v);
      es::platform::BstrFree(v);
      return hr;
    });
  };
  // Every name the element reads, in its order: it stops loading at the first one missing.
  bool ok = setBool(u"AllowRescanning", settings.allowRescanning) &&
            setBool(u"DeleteFaxes", dialog.deleteImages != 0) &&
            setBool(u"DeleteGroupFolder", dialog.deleteGroupFolder != 0) &&
            setString(u"SelectedPath", dialog.selectedDirectory) &&
            SetValue(store, u"Number of dirs", [&](Bstr n) {
              return store->SetInteger(n, static_cast<std::int64_t>(dialog.registeredDirectories.size()));
            });
  for (std::size_t i = 0; ok && i < dialog.registeredDirectories.size(); ++i)
    ok = setString(u"Dir" + es::DecimalText(static_cast<long long>(i)), dialog.registeredDirectories[i]);
  if (!ok) {
    err << "eshost: " << store->Path().string() << ": the settings could not be written\n";
    return false;
  }
  session.Element()->LoadSettings(store);
  if (session.Element()->SaveSettings(store) < 0) {
    err << "eshost: " << store->Path().string() << ": the element could not save its settings\n";
    return false;
  }
  std::string message;
  if (!store->Commit(&message)) {
    err << "eshost: " << message << "\n";
    return false;
  }
  return true;
}

const char* OnOff(bool on) { return on ? "on" : "off"; }

int RunConfigureDialog(const GlobalOptions& global, std::ostream& out, std::ostream& err) {
#ifdef _WIN32
  Session session;
  std::string error;
  if (!session.Open(global, &error)) {
    err << "eshost: " << error << "\n";
    return 2;
  }
  const std::int32_t result = session.Element()->Configure(nullptr, false, nullptr, false);
  if (result != 0 && result != es::kResultScanAndClose) {
    out << "Cancelled; nothing saved.\n";
    return 1;
  }
  es::host::JsonSettingsStore* store = session.Store();
  if (session.Element()->SaveSettings(store) < 0) {
    err << "eshost: " << store->Path().string() << ": the element could not save its settings\n";
    return 2;
  }
  std::string message;
  if (!store->Commit(&message)) {
    err << "eshost: " << message << "\n";
    return 2;
  }
  out << "Saved to " << store->Path().string() << ".\n";
  return 0;
#else
  (void)global;
  (void)out;
  err << "eshost configure: the configuration dialog needs Windows. Use 'eshost storages' to list the "
         "registered storages and 'eshost register', 'edit', 'remove' and 'set' to change them.\n";
  return 2;
#endif
}

}  // namespace

int RunConfig(const GlobalOptions& global, ConfigAction action, const ConfigOptions& options, std::istream& in,
              std::ostream& out, std::ostream& err) {
  if (action == ConfigAction::kConfigure) return RunConfigureDialog(global, out, err);
  if (action == ConfigAction::kSet && !options.deleteImages && !options.deleteGroupFolder) {
    err << "eshost set: nothing to set; give --delete-images and/or --delete-group-folder\n";
    return 2;
  }

  Session session;
  std::string error;
  if (!session.Open(global, &error)) {
    err << "eshost: " << error << "\n";
    return 2;
  }
  const ElementSettings settings = session.ReadSettings();

  OwnStrings strings;
  es::HeadlessDesk desk;
  desk.answerer = [&](const es::HeadlessBox& box) {
    if ((box.style & 0xF) != es::kMbYesNo) return es::CautiousAnswer(box.style);
    if (options.yes) return es::kIdYes;
    err << es::ToUtf8(box.text) << " [y/N] " << std::flush;
    std::string line;
    if (!std::getline(in, line)) return es::kIdNo;
    return !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? es::kIdYes : es::kIdNo;
  };

  es::CDlgConfigure dialog(nullptr);
  dialog.deleteImages = settings.deleteImages ? 1 : 0;
  dialog.deleteGroupFolder = settings.deleteGroupFolder ? 1 : 0;
  dialog.selectedDirectory = es::FromUtf8(settings.selectedPath);
  for (const std::string& directory : settings.directories) {
    dialog.registeredDirectories.push_back(es::FromUtf8(directory));
    dialog.storageNames.push_back(es::ReadStorageName(dialog.registeredDirectories.back()));
  }
  dialog.allowScan = false;

  const Str directory = es::FromUtf8(options.directory);
  const Str newDirectory = es::FromUtf8(options.newDirectory);
  Outcome outcome;
  std::vector<std::pair<Str, Str>> rows;

  // The edit dialog: type the text, press OK; a refusal leaves it open with its message.
  auto typeInto = [&](const Str& text) {
    desk.AddScript(IDD_EDIT_STORAGE, [&, text](HeadlessView& v) {
      const std::size_t boxes = desk.boxes.size();
      v.TypeText(IDC_DIRECTORY, text);
      v.Click(es::kIdOk);
      if (!v.Running()) return;
      outcome.refused = true;
      outcome.message = desk.boxes.size() > boxes ? es::ToUtf8(desk.boxes.back().text) : "refused";
      v.Click(es::kIdCancel);
    });
  };
  auto accept = [&](HeadlessView& v) {
    if (outcome.refused || outcome.declined) {
      v.PressEscape();
      return;
    }
    v.Click(es::kIdOk);
    if (v.Running()) {  // an empty list and No to closing
      outcome.declined = true;
      v.PressEscape();
    }
  };
  auto selectRow = [&](HeadlessView& v, const Str& text) {
    const int row = FindRow(v, text);
    if (row < 0) {
      outcome.refused = true;
      outcome.message = es::ToUtf8(text) + " is not registered.";
      return false;
    }
    v.ClickRow(kList, row);
    return true;
  };

  switch (action) {
    case ConfigAction::kRegister:
      typeInto(directory);
      desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
        v.Click(IDC_REGISTER);
        accept(v);
      });
      break;
    case ConfigAction::kEdit:
      typeInto(newDirectory);
      desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
        if (selectRow(v, directory)) v.Click(IDC_EDIT);
        accept(v);
      });
      break;
    case ConfigAction::kRemove:
      desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
        if (selectRow(v, directory)) {
          const int before = v.ItemCount(kList);
          v.Click(IDC_REMOVE);
          if (v.ItemCount(kList) == before) outcome.declined = true;
        }
        accept(v);
      });
      break;
    case ConfigAction::kSet:
      desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
        if (options.deleteImages && *options.deleteImages != v.IsChecked(IDC_DELETE_IMAGES))
          v.Click(IDC_DELETE_IMAGES);
        if (options.deleteGroupFolder && *options.deleteGroupFolder != v.IsChecked(IDC_DELETE_GROUP_FOLDER) &&
            !v.Click(IDC_DELETE_GROUP_FOLDER)) {
          outcome.refused = true;
          outcome.message = "Delete Group Folder can only be on while Delete images is on.";
        }
        accept(v);
      });
      break;
    case ConfigAction::kStorages:
      desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) {
        for (int row = 0; row < v.ItemCount(kList); ++row)
          rows.emplace_back(v.ItemText(kList, row, 0), v.ItemText(kList, row, 1));
        v.PressEscape();
      });
      break;
    case ConfigAction::kConfigure:
      break;
  }

  const int result = dialog.DoModal();
  if (action == ConfigAction::kStorages) {
    for (const auto& [dir, name] : rows) out << es::ToUtf8(dir) << "\t" << es::ToUtf8(name) << "\n";
    return 0;
  }
  if (outcome.refused) {
    err << "eshost: " << outcome.message << "\n";
    return 1;
  }
  if (outcome.declined || result != es::kIdOk) {
    out << "Nothing changed.\n";
    return 1;
  }
  if (!Save(session, settings, dialog, err)) return 2;

  switch (action) {
    case ConfigAction::kRegister:
      out << "Registered " << es::ToUtf8(directory) << "\n";
      break;
    case ConfigAction::kEdit:
      out << "Changed " << es::ToUtf8(directory) << " to " << es::ToUtf8(newDirectory) << "\n";
      break;
    case ConfigAction::kRemove:
      out << "Removed " << es::ToUtf8(directory) << "\n";
      break;
    default:
      out << "Delete images: " << OnOff(dialog.deleteImages != 0)
          << ", Delete Group Folder: " << OnOff(dialog.deleteGroupFolder != 0) << "\n";
      break;
  }
  return 0;
}

}  // namespace eshost
