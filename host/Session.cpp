#include "host/Session.h"

#include "es/Bstr.h"

#include <iostream>

namespace eshost {

Session::~Session() {
  if (element_ != nullptr) element_->DeleteThis();
  if (factory_ != nullptr) factory_->DeleteThis();
  store_.reset();
}

// The module reads its settings in a fixed order and stops at the first name the store
// lacks; say so, since a hand-written file would otherwise lose its storages silently.
void Session::WarnAboutGaps() const {
  const char16_t* names[] = {u"AllowRescanning", u"DeleteFaxes", u"SelectedPath", u"Number of dirs"};
  const char16_t* missing = nullptr;
  int present = 0;
  for (const char16_t* name : names) {
    Bstr b = es::bstr::Alloc(name, std::char_traits<char16_t>::length(name));
    Bstr text = nullptr;
    std::int64_t number = 0;
    std::int16_t flag = 0;
    const bool found = store_->GetString(b, &text) >= 0 || store_->GetInteger(b, &number) >= 0 ||
                       store_->GetBool(b, &flag) >= 0;
    es::bstr::Free(text);
    es::bstr::Free(b);
    if (found) {
      ++present;
    } else if (missing == nullptr) {
      missing = name;
    }
  }
  // A new settings file holds none of them; only a partly written one loses settings.
  if (present > 0 && missing != nullptr)
    std::cerr << "eshost: warning: " << store_->Path().string() << " has no \"" << Utf16To8(missing)
              << "\": the module stops reading its settings there and uses defaults for the rest\n";
}

bool Session::Open(const GlobalOptions& global, std::ostream& err) {
  std::string error;
  if (Open(global, &error)) return true;
  err << "eshost: " << error << "\n";
  return false;
}

bool Session::Open(const GlobalOptions& global, std::string* error) {
  modulePath_ = global.modulePath.empty() ? DefaultModulePath() : global.modulePath;
  if (!module_.Load(modulePath_, error)) return false;
  IElementFactory* factory = nullptr;
  module_.Entry()(1, &factory);
  if (factory == nullptr) {
    *error = modulePath_ + ": ScanningCreateImplements delivered no factory";
    return false;
  }
  factory_ = static_cast<IElementFactoryScanning*>(factory);
  IElement* element = nullptr;
  if (factory_->CreateElement(&element) < 0 || element == nullptr) {
    *error = modulePath_ + ": the factory could not create an element";
    return false;
  }
  element_ = static_cast<IElementScanning*>(element);
  store_ = es::host::JsonSettingsStore::Open(global.settingsPath);
  if (store_->HasError()) {
    *error = store_->Error();
    return false;
  }
  WarnAboutGaps();
  element_->LoadSettings(store_.get());
  return true;
}

ElementSettings Session::ReadSettings() const {
  ElementSettings out;
  auto scratch = es::host::JsonSettingsStore::Open(std::filesystem::path());
  element_->SaveSettings(scratch.get());
  auto name = [](const char16_t* n) { return es::bstr::Alloc(n, std::char_traits<char16_t>::length(n)); };
  auto getBool = [&](const char16_t* n, bool* v) {
    Bstr b = name(n);
    std::int16_t value = 0;
    if (scratch->GetBool(b, &value) >= 0) *v = value != 0;
    es::bstr::Free(b);
  };
  auto getString = [&](const std::u16string& n) {
    Bstr b = name(n.c_str());
    Bstr value = nullptr;
    std::string text;
    if (scratch->GetString(b, &value) >= 0 && value != nullptr) text = Utf16To8(value);
    es::bstr::Free(value);
    es::bstr::Free(b);
    return text;
  };
  getBool(u"AllowRescanning", &out.allowRescanning);
  getBool(u"DeleteFaxes", &out.deleteImages);
  getBool(u"DeleteGroupFolder", &out.deleteGroupFolder);
  out.selectedPath = getString(u"SelectedPath");
  Bstr count = name(u"Number of dirs");
  std::int64_t n = 0;
  if (scratch->GetInteger(count, &n) < 0) n = 0;
  es::bstr::Free(count);
  for (std::int64_t i = 0; i < n; ++i) out.directories.push_back(getString(u"Dir" + Utf8To16(std::to_string(i))));
  return out;
}

}  // namespace eshost
