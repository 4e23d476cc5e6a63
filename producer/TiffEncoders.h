// Strip encoders of the TIFF writer, in portable C++: PackBits, LZW and the CCITT
// run-length codings. Each call encodes one strip on its own, as a reader decodes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace esproduce::tiffcodec {

using Bytes = std::vector<std::uint8_t>;

// Rows of `rowBytes` bytes each; every row is packed on its own.
Bytes PackBits(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t rowCount);

// The TIFF flavour of LZW: 9 to 12-bit codes, most significant bit first, a clear code
// first and whenever the table fills, the code width growing one code early.
Bytes Lzw(const std::uint8_t* data, std::size_t size);

// Bitonal rows, most significant bit first, a set bit black (what TIFF calls
// min-is-white). G3 is the one-dimensional modified Huffman coding with an end-of-line
// code before each row; G4 the two-dimensional coding whose first reference row is white,
// closed by an end-of-facsimile-block code.
Bytes CcittG3(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t width,
              std::uint32_t rowCount);
Bytes CcittG4(const std::uint8_t* rows, std::size_t rowBytes, std::uint32_t width,
              std::uint32_t rowCount);

#ifdef _WIN32
// A complete baseline JPEG stream (JFIF) of gray (1 byte per pixel) or red-green-blue
// rows, made with the Windows Imaging Component's encoder. `*subsampling` receives the
// horizontal and vertical sampling factors of the first (luma) component.
bool JpegStream(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, bool rgb,
                Bytes* out, std::uint16_t subsampling[2], std::string* error);
#endif

}  // namespace esproduce::tiffcodec
