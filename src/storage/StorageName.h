// The display name of a storage: the first line of its description file.
#pragma once

#include "base/Text.h"

namespace es {

// `directory` as registered (environment references are expanded here). Empty when
// there is no description file, it cannot be read, or it is no regular file.
Str ReadStorageName(const Str& directory);

}  // namespace es
