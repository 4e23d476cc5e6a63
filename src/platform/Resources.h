// Icon resources of a resource module.
#pragma once

#include <cstdint>

namespace es::platform {

// A shared icon of the resource module (the caller does not destroy it), or null.
void* LoadIconResource(void* resourceModule, std::uint32_t id);

}  // namespace es::platform
