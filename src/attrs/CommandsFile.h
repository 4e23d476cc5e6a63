// The side files of a document folder: "KVATTR", stored whole, and "COMMANDS", stored
// whole with four of its keywords copied into text attributes.
#pragma once

#include "Quillet.h"
#include "frame/Text.h"

namespace es::attrs {

// The patterns the COMP keyword is matched against: page file names and data items.
inline constexpr char16_t kCommandPatterns[] = u"[0-9]+\\.pg\nDATA[0-9]+\n";

// Stores "KVATTR" (as a text-mode read delivers it) and "COMMANDS" (raw) in `document`
// as binary attributes and sets the barcode, pile index, scan batch and scan folder texts
// from the commands. False when the folder or "COMMANDS" is missing or cannot be read;
// the text attributes are then left alone.
bool ReadCommandFiles(const Str& folder, CAttrContainer* document);

}  // namespace es::attrs
