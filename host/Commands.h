// eshost's commands. Each returns the process exit status.
#pragma once

#include <cstdint>
#include <filesystem>
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

struct ScanOptions {
  bool unattended = false;
  std::filesystem::path outDir = "eshost-out";
  std::string tracePath;
  std::string messagesPath;
  std::string receiptPath;
  std::int64_t refuseAt = 0;
  std::int64_t cancelAt = 0;
  bool discard = false;
  double everySeconds = 0;
  bool quiet = false;
};

int RunScan(const GlobalOptions& global, const ScanOptions& options);

}  // namespace eshost
