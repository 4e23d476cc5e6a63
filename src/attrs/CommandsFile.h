// The side files of a document folder: "KVATTR", stored whole, and "COMMANDS", stored
// whole with four of its keywords copied into text attributes.
#pragma once

#include <cstdint>
#include <vector>

#include "Quillet.h"
#include "base/Text.h"

namespace es::attrs {

// The patterns the COMP keyword is matched against: page file names and data items.
inline constexpr char16_t kCommandPatterns[] = u"[0-9]+\\.pg\nDATA[0-9]+\n";

// Stores the bytes of "KVATTR" (as a text-mode read delivers them) and of "COMMANDS"
// (raw) in `document` as binary attributes and sets the barcode, pile index, scan batch
// and scan folder texts from the commands. A null file is one that is missing or could
// not be read. False when there is no "COMMANDS"; the text attributes are then left alone.
bool ApplyCommandFiles(const std::vector<std::uint8_t>* kvattr, const std::vector<std::uint8_t>* commands,
                       CAttrContainer* document);

}  // namespace es::attrs
