// File names on POSIX: bytes, usually UTF-8, compared with case as the file system has
// it. The core works in UTF-16 and compares names without regard to case, as Windows
// does; these helpers bridge the two.
#pragma once

#include <string>
#include <string_view>

namespace es::platform::posix {

// Bytes to UTF-16. A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF, so that every name the file system holds has a UTF-16 form.
std::u16string DecodeName(std::string_view bytes);
// UTF-16 to bytes, the reverse of DecodeName: U+DC80..U+DCFF alone give back their byte.
// Other lone surrogates are written in the three-byte form UTF-8 would give them.
std::string EncodeName(std::u16string_view text);

// Upper case of one UTF-16 unit, the way Windows compares names.
char16_t FoldCase(char16_t unit);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// Wildcards as Windows listing patterns have them: '*' any run of units, '?' exactly one,
// without regard to case; a trailing ".*" also matches a name without that extension,
// so "*.*" matches every name.
bool MatchWildcard(std::u16string_view pattern, std::u16string_view name);

}  // namespace es::platform::posix
