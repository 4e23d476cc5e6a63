// Small text helpers of the core: UTF-16 in memory, no OS calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace es {

using Str = std::u16string;
using StrView = std::u16string_view;
using StrArray = std::vector<Str>;

Str FromAscii(std::string_view ascii);
// UTF-16 <-> UTF-8 (lunmere's one conversion): a lone surrogate becomes U+FFFD, so the
// UTF-8 is always valid; a byte that is no UTF-8 becomes U+DC80..U+DCFF.
std::string ToUtf8(StrView text);
Str FromUtf8(std::string_view utf8);

Str DecimalText(long long value);
// "%08lx": eight lower-case hexadecimal digits, zero-padded.
Str Hex8(std::uint32_t value);

// Upper case as the Windows file system folds names (ASCII and Latin-1 letters).
Str ToUpper(StrView text);
bool EqualsNoCase(StrView a, StrView b);

bool EndsWithSeparator(StrView path);
// `folder`, one separator unless it already ends in one, `name`.
Str JoinPath(StrView folder, StrView name);
// `folder`, a separator, `name`: always a separator, as the fixed path patterns say.
Str JoinAlways(StrView folder, StrView name);

Str TrimBlanks(StrView text);

// The text before the first carriage return, when that carriage return is not the
// first character; otherwise the whole text (storage and group names).
Str FirstLineUnlessLeadingCr(const Str& text);

// Joins `items` with `separator`.
Str Join(const StrArray& items, StrView separator);

}  // namespace es
