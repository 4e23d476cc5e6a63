// The backend switch and the process-wide ANSI code page.
#include "platform/Platform.h"

#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/PlatformInternal.h"

namespace es::platform {
namespace {

std::atomic<IPlatform*> g_installed{nullptr};

constexpr const char kDefaultCodePage[] = "WINDOWS-1252";

struct CodePage {
  std::mutex mutex;
  std::string name = kDefaultCodePage;
};

CodePage& TheCodePage() {
  // Destroyed when the module unloads; nothing uses it from a destructor.
  static CodePage codePage;
  return codePage;
}

}  // namespace

IPlatform& NativePlatform() {
  static IPlatform& native = detail::CreateNativeBackend();
  return native;
}

IPlatform& Os() {
  IPlatform* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : NativePlatform();
}

IPlatform* SetPlatform(IPlatform* platform) {
  IPlatform* previous = g_installed.exchange(platform, std::memory_order_acq_rel);
  return previous ? previous : &NativePlatform();
}

void SetAnsiCodePage(const char* name) {
  std::string chosen = name && *name ? name : kDefaultCodePage;
  // Windows names code pages by number ("1252", "932"); iconv knows them as CPnnnn,
  // except UTF-8, which Windows calls 65001.
  bool numeric = true;
  for (char c : chosen) numeric = numeric && std::isdigit(static_cast<unsigned char>(c));
  if (numeric) chosen = chosen == "65001" ? "UTF-8" : "CP" + chosen;
  CodePage& codePage = TheCodePage();
  std::lock_guard<std::mutex> lock(codePage.mutex);
  codePage.name = chosen;
}

namespace detail {
std::string AnsiCodePage() {
  CodePage& codePage = TheCodePage();
  std::lock_guard<std::mutex> lock(codePage.mutex);
  return codePage.name;
}
}  // namespace detail

}  // namespace es::platform
