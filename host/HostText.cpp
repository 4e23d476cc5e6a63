// The host's text conversions, on the same rules as the module's.
#include "frame/Text.h"
#include "host/ModuleLoader.h"

namespace eshost {

std::u16string Utf8To16(const std::string& text) { return es::FromUtf8(text); }

std::string Utf16To8(const std::u16string& text) { return es::ToUtf8(text); }

}  // namespace eshost
