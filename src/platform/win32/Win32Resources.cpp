#include <windows.h>

#include "platform/Resources.h"

namespace es::platform {

void* LoadIconResource(void* resourceModule, std::uint32_t id) {
  return LoadIconW(static_cast<HINSTANCE>(resourceModule), MAKEINTRESOURCEW(id));
}

}  // namespace es::platform
