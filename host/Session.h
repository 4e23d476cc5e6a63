// One loaded module with one element and its settings, as every eshost command uses it.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "es/HostInterfaces.h"
#include "host/Commands.h"
#include "host/ModuleLoader.h"
#include "settings/JsonSettingsStore.h"

namespace eshost {

// What an element holds, read back by letting it save into a scratch store.
struct ElementSettings {
  bool allowRescanning = true;
  bool deleteImages = true;
  bool deleteGroupFolder = true;
  std::string selectedPath;
  std::vector<std::string> directories;
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the module, creates an element and loads its settings. On failure `error`
  // names the file and the reason.
  bool Open(const GlobalOptions& global, std::string* error);
  // The same, saying on `err` what failed, as every command does.
  bool Open(const GlobalOptions& global, std::ostream& err);

  IElementFactoryScanning* Factory() const { return factory_; }
  IElementScanning* Element() const { return element_; }
  es::host::JsonSettingsStore* Store() const { return store_.get(); }
  const std::string& ModulePath() const { return modulePath_; }
  ElementSettings ReadSettings() const;

 private:
  void WarnAboutGaps() const;
  LoadedModule module_;
  std::string modulePath_;
  IElementFactoryScanning* factory_ = nullptr;
  IElementScanning* element_ = nullptr;
  es::host::ComPtr<es::host::JsonSettingsStore> store_;
};

}  // namespace eshost
