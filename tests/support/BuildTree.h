// Where the tests find the build's programs and the module (CTest sets ES_TEST_BIN).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace estest {

inline std::filesystem::path BinFolder() {
  const char* bin = std::getenv("ES_TEST_BIN");
  return bin != nullptr ? std::filesystem::path(bin) : std::filesystem::current_path();
}

inline std::filesystem::path ModuleFile() {
#ifdef _WIN32
  return BinFolder() / "Input.ExternalStorage.dll";
#else
  return BinFolder() / "Input.ExternalStorage.so";
#endif
}

// The module's path as UTF-8, as eshost takes it.
inline std::string ModulePathUtf8() {
  const auto text = ModuleFile().u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace estest
