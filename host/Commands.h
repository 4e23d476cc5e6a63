// eshost's commands. Each returns the process exit status.
#pragma once

#include <string>

namespace eshost {

struct GlobalOptions {
  std::string modulePath;    // empty: the module beside eshost
  std::string settingsPath = "eshost-settings.json";
};

struct InfoOptions {
  bool json = false;
};

int RunInfo(const GlobalOptions& global, const InfoOptions& options);

}  // namespace eshost
