// Allocating and freeing the BSTR-style strings that cross the host boundary (see
// HostInterfaces.h): whoever receives one from the other side frees it, so both sides
// must allocate them alike. Windows: real BSTRs. Elsewhere: a 4-byte byte length, the
// UTF-16 text and a terminator in one malloc block; the string points at the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "es/HostInterfaces.h"

#ifdef _WIN32
// From OleAut32, declared here as <oleauto.h> declares them, so that a host need not pull
// the Windows headers (and their macros) into every file that passes a string.
extern "C" __attribute__((dllimport)) wchar_t* __stdcall SysAllocStringLen(const wchar_t* text, unsigned int length);
extern "C" __attribute__((dllimport)) void __stdcall SysFreeString(wchar_t* text);
#endif

namespace es::bstr {

// A new string of `length` UTF-16 units copied from `text` (zeros when null); null when
// it cannot be had.
inline Bstr Alloc(const char16_t* text, std::size_t length) {
#ifdef _WIN32
  if (length > 0x7FFFFFF0u) return nullptr;
  return reinterpret_cast<Bstr>(SysAllocStringLen(reinterpret_cast<const wchar_t*>(text), static_cast<unsigned>(length)));
#else
  if (length > (UINT32_MAX - 2 * sizeof(char16_t)) / sizeof(char16_t)) return nullptr;
  const std::size_t bytes = length * sizeof(char16_t);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(char16_t)));
  if (!block) return nullptr;
  const auto byteLength = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &byteLength, sizeof byteLength);
  auto* chars = reinterpret_cast<char16_t*>(block + sizeof(std::uint32_t));
  if (text) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = 0;
  return chars;
#endif
}

inline void Free(Bstr text) {
#ifdef _WIN32
  SysFreeString(reinterpret_cast<wchar_t*>(text));
#else
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
#endif
}

}  // namespace es::bstr
