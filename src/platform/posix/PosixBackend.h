// The parts of the POSIX backend that live in their own files.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Platform.h"

namespace es::platform::posix {

// Text in the process-wide ANSI code page, converted with iconv (AnsiText.cpp).
Str AnsiToUtf16(const char* bytes, std::size_t count);
bool Utf16ToAnsi(const Str& text, std::string* bytes);

// The process and its modules (PosixProcess.cpp).
bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded);
bool UserName(std::size_t capacity, Str* name);
bool ComputerName(std::size_t capacity, Str* name);
void* ModuleHandleByName(const Str& name);
Str ModuleFileName(void* module);
int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity);

}  // namespace es::platform::posix
