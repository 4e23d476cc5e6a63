// eshost register, edit, remove, set, storages and configure: the storages and deletion
// switches of the element, changed through the storage registry the configure and edit
// dialogs use themselves, so that the same checks decide (an existing directory, not yet
// registered after expansion, whatever the case or a trailing separator) and the same
// messages say why. What the registry accepts is written into the settings store under
// the element's own names and then loaded and saved by the element, so that its rules
// apply to what is kept.
#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "frame/Element.h"
#include "base/ModuleState.h"
#include "es/Bstr.h"
#include "base/Text.h"
#include "host/Commands.h"
#include "host/Session.h"
#include "platform/Platform.h"
#include "ResourceIds.h"
#include "storage/StorageName.h"
#include "ui/DlgCfg.h"
#include "ui/StorageRegistry.h"

namespace eshost {

namespace {

using es::Str;
using es::StrArray;

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

// A text of the module's string table, as the dialogs show it.
Str String(std::uint32_t id) {
  char16_t buffer[1024] = {};
  es::platform::Os().LoadString(es::CurrentModuleState()->resources, id, buffer, 1024);
  return buffer;
}

bool SetValue(ISettingsStore* store, const Str& name, const std::function<HResult(Bstr)>& set) {
  Bstr b = es::bstr::Alloc(name.c_str(), name.size());
  const HResult hr = set(b);
  es::bstr::Free(b);
  return hr >= 0;
}

// Writes what the dialog accepted under the element's names, lets the element load and
// save it, and commits the file.
bool Save(Session& session, const ElementSettings& settings, const es::StorageRegistry& registry, std::ostream& err) {
  es::host::JsonSettingsStore* store = session.Store();
  auto setBool = [&](const Str& name, bool value) {
    return SetValue(store, name, [&](Bstr n) { return store->SetBool(n, value ? 1 : 0); });
  };
  auto setString = [&](const Str& name, const Str& value) {
    return SetValue(store, name, [&](Bstr n) {
      Bstr v = es::bstr::Alloc(value.c_str(), value.size());
      const HResult hr = store->SetString(n, v);
      es::bstr::Free(v);
      return hr;
    });
  };
  // Every name the element reads, in its order: it stops loading at the first one missing.
  bool ok = setBool(u"AllowRescanning", settings.allowRescanning) &&
            setBool(u"DeleteFaxes", registry.DeleteImages()) &&
            setBool(u"DeleteGroupFolder", registry.DeleteGroupFolder()) &&
            setString(u"SelectedPath", registry.Selected()) &&
            SetValue(store, u"Number of dirs", [&](Bstr n) {
              return store->SetInteger(n, static_cast<std::int64_t>(registry.Directories().size()));
            });
  for (std::size_t i = 0; ok && i < registry.Directories().size(); ++i)
    ok = setString(u"Dir" + es::DecimalText(static_cast<long long>(i)), registry.Directories()[i]);
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
  if (!session.Open(global, err)) return 2;
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
  if (!session.Open(global, err)) return 2;
  const ElementSettings settings = session.ReadSettings();
  OwnStrings strings;
  // The storages as the configure dialog lists them: sorted, as its list is.
  StrArray sorted;
  for (const std::string& directory : settings.directories) {
    const Str text = es::FromUtf8(directory);
    sorted.insert(sorted.begin() + static_cast<std::ptrdiff_t>(es::StorageRegistry::SortedPosition(sorted, text)), text);
  }
  es::StorageRegistry registry(sorted, es::FromUtf8(settings.selectedPath), settings.deleteImages,
                               settings.deleteGroupFolder);
  if (action == ConfigAction::kStorages) {
    for (const Str& directory : registry.Directories()) {
      const Str name = es::ReadStorageName(directory);
      out << es::ToUtf8(directory) << "\t" << (name.empty() ? es::ToUtf8(String(IDS_NOT_FOUND)) : es::ToUtf8(name))
          << "\n";
    }
    return 0;
  }
  // The dialogs' questions, asked on the terminal unless --yes answers them.
  auto ask = [&](std::uint32_t question) {
    if (options.yes) return true;
    err << es::ToUtf8(String(question)) << " [y/N] " << std::flush;
    std::string line;
    return std::getline(in, line) && !line.empty() && (line[0] == 'y' || line[0] == 'Y');
  };
  auto refuse = [&](es::Registration outcome, const Str& directory) {
    switch (outcome) {
      case es::Registration::InvalidDirectory: err << "eshost: " << es::ToUtf8(String(IDS_INVALID_DIRECTORY)) << "\n"; break;
      case es::Registration::AlreadyRegistered: err << "eshost: " << es::ToUtf8(String(IDS_ALREADY_REGISTERED)) << "\n"; break;
      case es::Registration::NotRegistered: err << "eshost: " << es::ToUtf8(directory) << " is not registered.\n"; break;
      case es::Registration::Accepted: break;
    }
    return 1;
  };
  const Str directory = es::FromUtf8(options.directory);
  const Str newDirectory = es::FromUtf8(options.newDirectory);
  es::Registration outcome = es::Registration::Accepted;
  switch (action) {
    case ConfigAction::kRegister:
      outcome = registry.Register(directory);
      break;
    case ConfigAction::kEdit:
      outcome = registry.Edit(directory, newDirectory);
      break;
    case ConfigAction::kRemove:
      if (registry.Find(directory) < 0) {
        outcome = es::Registration::NotRegistered;
      } else if (!ask(IDS_ASK_REMOVE)) {
        out << "Nothing changed.\n";
        return 1;
      } else {
        outcome = registry.Remove(directory);
      }
      break;
    case ConfigAction::kSet:
      if (options.deleteImages) registry.SetDeleteImages(*options.deleteImages);
      if (options.deleteGroupFolder && !registry.SetDeleteGroupFolder(*options.deleteGroupFolder)) {
        err << "eshost: Delete Group Folder can only be on while Delete images is on.\n";
        return 1;
      }
      break;
    default:
      break;
  }
  if (outcome != es::Registration::Accepted) return refuse(outcome, directory);
  // As the dialog's OK: an empty list is saved only when the user says so.
  if (registry.Directories().empty() && !ask(IDS_ASK_CLOSE_EMPTY)) {
    out << "Nothing changed.\n";
    return 1;
  }
  if (!Save(session, settings, registry, err)) return 2;

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
      out << "Delete images: " << OnOff(registry.DeleteImages())
          << ", Delete Group Folder: " << OnOff(registry.DeleteGroupFolder()) << "\n";
      break;
  }
  return 0;
}

}  // namespace eshost
