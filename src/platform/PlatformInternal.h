// What the shared part of the seam and the backends tell each other; not for the core.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace es::platform::detail {

// The backend of this OS, created on first use and never destroyed, so that code
// running during shutdown can still reach it.
IPlatform& CreateNativeBackend();

// The iconv name of the process-wide ANSI code page (see SetAnsiCodePage).
std::string AnsiCodePage();

}  // namespace es::platform::detail
