// Allocating and freeing the BSTR-style strings that cross the host boundary (see
// HostInterfaces.h): whoever receives one from the other side frees it, so both sides
// must allocate them alike. Windows: real BSTRs. Elsewhere: a 4-byte byte length, the
// UTF-16 text and a terminator in one malloc block; the string points at the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <oleauto.h>
#endif

#include "es/HostInterfaces.h"

namespace es::bstr {

// A new string of `length` UTF-16 units copied from `text` (zeros when null); null when
// it cannot be had.
inline Bstr Alloc(const char16_t* text, std::size_t length) {
#ifdef _WIN32
  if (length > 0x7FFFFFF0u) return nullptr;
  return reinterpret_cast<Bstr>(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), static_cast<UINT>(length)));
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
  SysFreeString(reinterpret_cast<BSTR>(text));
#else
  if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
#endif
}

}  // namespace es::bstr
