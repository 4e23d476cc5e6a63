// Filling the inserts of a trace text from the caller's argument list.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace tessard {

enum class InsertSyntax {
  // Format texts: printf inserts, and %1..%99 (with an optional !fmt!) as numbered inserts.
  kMixed,
  // String resources and messages: numbered inserts and the FormatMessage escapes only.
  kNumbered,
};

// Arguments are read from `args` (not consumed: a copy is read) in argument-number order.
// Printf inserts take the numbers, from 1, that no numbered insert names.
std::u16string FillInserts(std::u16string_view text, InsertSyntax syntax, va_list args);

}  // namespace tessard
