// The host's text conversions: the one UTF-8/UTF-16 conversion of the project.
#include "LunmereUtf8.h"
#include "host/ModuleLoader.h"

namespace eshost {

std::u16string Utf8To16(const std::string& text) { return lunmere::Utf8ToUtf16(text); }

std::string Utf16To8(const std::u16string& text) { return lunmere::Utf16ToUtf8(text); }

}  // namespace eshost
