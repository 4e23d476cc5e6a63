#include <map>
#include <mutex>

#include "platform/Resources.h"

namespace es::platform {

namespace {
// POSIX modules carry no icon images; an icon is a stable token per module and id, so
// that every caller gets the same handle, as with a shared Windows resource icon.
struct IconToken {
  void* module;
  std::uint32_t id;
};
}  // namespace

void* LoadIconResource(void* resourceModule, std::uint32_t id) {
  if (resourceModule == nullptr) return nullptr;
  static std::mutex mutex;
  static std::map<std::pair<void*, std::uint32_t>, IconToken> icons;
  std::lock_guard<std::mutex> lock(mutex);
  auto& token = icons[{resourceModule, id}];
  token = IconToken{resourceModule, id};
  return &token;
}

}  // namespace es::platform
