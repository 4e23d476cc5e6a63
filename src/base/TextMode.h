// The runtime library's text mode on plain bytes: side files and the order file are
// read and written as a text-mode stream would see them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace es {

// As a text-mode read delivers a file: each CR LF pair becomes one LF, a lone CR stays,
// and a byte 0x1A ends the data.
std::vector<std::uint8_t> DecodeTextMode(std::span<const std::uint8_t> bytes);

// As a text-mode write stores data: every LF becomes CR LF (a CR before it stays).
std::vector<std::uint8_t> EncodeTextMode(std::span<const std::uint8_t> bytes);

}  // namespace es
