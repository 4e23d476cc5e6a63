// eshost info: what the module reports about itself and about the registered storages.
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Quillet.h"
#include "es/HostInterfaces.h"
#include "frame/Element.h"
#include "host/AttrJson.h"
#include "host/Commands.h"
#include "host/ModuleLoader.h"
#include "resources/ModuleStrings.h"
#include "settings/JsonSettingsStore.h"

namespace eshost {

namespace {

std::u16string ModuleString(std::uint32_t id) {
  for (unsigned i = 0; i < es::resources::kStringCount; ++i)
    if (es::resources::kStrings[i].id == id) return es::resources::kStrings[i].text;
  return u"";
}

class CountingSite final : public IInitializeSite {
 public:
  HResult Reserved0() override { return kE_NOTIMPL; }
  HResult Notify(std::int32_t, std::int32_t) override {
    ++notifications;
    return kS_OK;
  }
  int notifications = 0;
};

struct ElementSettings {
  bool allowRescanning = true;
  bool deleteImages = true;
  bool deleteGroupFolder = true;
  std::string selectedPath;
  std::vector<std::string> directories;
};

// What the element holds, read back by letting it save into a scratch store.
ElementSettings ReadBack(IElement* element) {
  ElementSettings out;
  auto scratch = es::host::JsonSettingsStore::Open(std::filesystem::path());
  element->SaveSettings(scratch.get());
  auto name = [](const char16_t* n) { return es::platform::BstrAlloc(n, std::char_traits<char16_t>::length(n)); };
  auto getBool = [&](const char16_t* n, bool* v) {
    Bstr b = name(n);
    std::int16_t value = 0;
    if (scratch->GetBool(b, &value) >= 0) *v = value != 0;
    es::platform::BstrFree(b);
  };
  auto getString = [&](const std::u16string& n) {
    Bstr b = name(n.c_str());
    Bstr value = nullptr;
    std::string text;
    if (scratch->GetString(b, &value) >= 0 && value != nullptr) text = Utf16To8(value);
    es::platform::BstrFree(value);
    es::platform::BstrFree(b);
    return text;
  };
  getBool(u"AllowRescanning", &out.allowRescanning);
  getBool(u"DeleteFaxes", &out.deleteImages);
  getBool(u"DeleteGroupFolder", &out.deleteGroupFolder);
  out.selectedPath = getString(u"SelectedPath");
  Bstr count = name(u"Number of dirs");
  std::int64_t n = 0;
  if (scratch->GetInteger(count, &n) < 0) n = 0;
  es::platform::BstrFree(count);
  for (std::int64_t i = 0; i < n; ++i) out.directories.push_back(getString(u"Dir" + Utf8To16(std::to_string(i))));
  return out;
}

std::string ValueText(const nlohmann::ordered_json& value) {
  if (value.is_object() && value.contains("base64")) {
    const std::string b64 = value["base64"].get<std::string>();
    return "binary, " + std::to_string(b64.size() / 4 * 3 - (b64.size() >= 1 && b64.back() == '=' ? 1 : 0) -
                                       (b64.size() >= 2 && b64[b64.size() - 2] == '=' ? 1 : 0)) +
           " bytes";
  }
  return value.dump();
}

}  // namespace

int RunInfo(const GlobalOptions& global, const InfoOptions& options) {
  const std::string modulePath = global.modulePath.empty() ? DefaultModulePath() : global.modulePath;
  LoadedModule module;
  std::string error;
  if (!module.Load(modulePath, &error)) {
    std::cerr << "eshost: " << error << "\n";
    return 2;
  }
  IElementFactory* factory = nullptr;
  module.Entry()(1, &factory);
  if (factory == nullptr) {
    std::cerr << "eshost: " << modulePath << ": ScanningCreateImplements delivered no factory\n";
    return 2;
  }
  auto* scanning = static_cast<IElementFactoryScanning*>(factory);
  IElement* element = nullptr;
  if (scanning->CreateElement(&element) < 0 || element == nullptr) {
    std::cerr << "eshost: " << modulePath << ": the factory could not create an element\n";
    factory->DeleteThis();
    return 2;
  }
  auto* elementScanning = static_cast<IElementScanning*>(element);

  auto store = es::host::JsonSettingsStore::Open(global.settingsPath);
  if (store->HasError()) {
    std::cerr << "eshost: " << store->Error() << "\n";
    element->DeleteThis();
    factory->DeleteThis();
    return 2;
  }
  element->LoadSettings(store.get());
  const ElementSettings settings = ReadBack(element);

  char16_t displayName[256] = {};
  factory->GetDisplayName(displayName, 256);

  auto* defaults = new CAttrContainer(1);
  CountingSite site;
  const std::int32_t written = element->InitializeAttributes(defaults, &site);
  const nlohmann::ordered_json attributes = ContainerToJson(defaults);
  defaults->Destroy();

  nlohmann::ordered_json out;
  out["module"] = modulePath;
  out["type_name"] = Utf16To8(factory->GetTypeName());
  out["display_name"] = Utf16To8(displayName);
  out["factory_flag5"] = scanning->QueryFlag5();
  out["element_flags"] = elementScanning->GetElementFlags();
  out["element_query_flags"] = {element->QueryFlag6(), elementScanning->QueryFlag8(), elementScanning->QueryFlag9(),
                                elementScanning->QueryFlag10(), elementScanning->QueryFlag11()};
  out["settings_file"] = global.settingsPath;
  out["allow_rescanning"] = settings.allowRescanning;
  out["delete_images"] = settings.deleteImages;
  out["delete_group_folder"] = settings.deleteGroupFolder;
  out["selected_path"] = settings.selectedPath;
  nlohmann::ordered_json storages = nlohmann::ordered_json::array();
  for (const auto& directory : settings.directories) {
    const std::u16string name = es::ReadStorageName(Utf8To16(directory));
    storages.push_back({{"directory", directory},
                        {"name", name.empty() ? nullptr : nlohmann::ordered_json(Utf16To8(name))},
                        {"shown_as", Utf16To8(name.empty() ? ModuleString(14049) : name)}});
  }
  out["storages"] = storages;
  out["default_attributes_written"] = written;
  out["default_attributes"] = attributes;

  element->DeleteThis();
  factory->DeleteThis();

  if (options.json) {
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  std::cout << "Module:              " << modulePath << "\n"
            << "Type name:           " << out["type_name"].get<std::string>() << "\n"
            << "Display name:        " << out["display_name"].get<std::string>() << "\n"
            << "Element flags:       " << out["element_flags"].get<std::uint32_t>() << "\n"
            << "Settings file:       " << global.settingsPath << "\n"
            << "Delete images:       " << (settings.deleteImages ? "on" : "off") << "\n"
            << "Delete group folder: " << (settings.deleteGroupFolder ? "on" : "off") << "\n"
            << "Registered storages: " << settings.directories.size() << "\n";
  for (const auto& s : storages)
    std::cout << "  " << s["directory"].get<std::string>() << "  " << s["shown_as"].get<std::string>() << "\n";
  std::cout << "Default attributes (" << attributes.size() << "):\n";
  for (const auto& [id, value] : attributes.items()) std::cout << "  " << id << "  " << ValueText(value) << "\n";
  return 0;
}

}  // namespace eshost
