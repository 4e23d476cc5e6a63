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
#include "ModuleStrings.h"
#include "host/Session.h"
#include "storage/StorageName.h"

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
  Session session;
  if (!session.Open(global, std::cerr)) return 2;
  auto* scanning = session.Factory();
  IElementFactory* factory = scanning;
  IElementScanning* elementScanning = session.Element();
  IElement* element = elementScanning;
  const std::string& modulePath = session.ModulePath();
  const ElementSettings settings = session.ReadSettings();

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
