// The element's configure and scan entries, behind the module state switch.
#pragma once

#include <cstdint>

#include "frame/Element.h"

namespace es {

// Runs the configuration dialog on the element's settings; 0 OK, 15001 Scan & Close,
// 1 cancelled.
std::int32_t RunConfigure(CElement& element, WindowHandle parent, bool allowScan,
                          const char16_t* captionFormat, bool captionGiven);
// Decides which groups to import (dialog, or every available group when unattended)
// and imports them.
void RunScan(CElement& element, WindowHandle parent);

}  // namespace es
