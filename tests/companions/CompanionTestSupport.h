// Shared by the companion tests: the test program as a module with the module's strings,
// and the trace facade's way of calling the layer.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "Brivel.h"
#include "Lunmere.h"
#include "Tessard.h"
#include "resources/ModuleStrings.h"

namespace companions_test {

#ifdef _WIN32
// The test program carries the module's resource script: its own handle serves the strings.
inline void* TestModule() { return LunmereModuleFromAddress(reinterpret_cast<const void*>(&TestModule)); }
#else
inline int LoadModuleString(std::uint32_t id, char16_t* buffer, int capacity) {
  for (unsigned i = 0; i < es::resources::kStringCount; ++i) {
    if (es::resources::kStrings[i].id != id) continue;
    const std::u16string text = es::resources::kStrings[i].text;
    const int length = std::min(static_cast<int>(text.size()), capacity - 1);
    text.copy(buffer, static_cast<std::size_t>(length));
    buffer[length] = 0;
    return length;
  }
  return 0;
}
// The instance handle of the test program, whose strings are the module's string table.
inline void* TestModule() {
  static LunmereModule module{kLunmereMagic, reinterpret_cast<const void*>(&LoadModuleString), &LoadModuleString};
  static const bool registered = (LunmereRegisterModule(&module), true);
  (void)registered;
  return &module;
}
#endif

// A variadic front end, as the module's trace facade calls the layer; `Format` is a
// UTF-16 or narrow format text, a resource id or a Log::Message.
template <typename Format>
void Trace(std::int32_t severity, void* module, const char* source, int line, Format format, ...) {
  va_list args;
  va_start(args, format);
  CLogBase::TraceImpl(severity, module, source, line, format, args);
  va_end(args);
}

}  // namespace companions_test
