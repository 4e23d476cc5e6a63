// A minimal one-page PDF file, written by hand: header, catalog, page tree, page,
// content stream, font, cross-reference table with the objects' byte offsets, trailer.
#include <cstdio>

#include "producer/Producer.h"

namespace esproduce {
namespace {

// A PDF literal string: parentheses and backslashes escaped, other bytes outside
// printable ASCII as octal escapes.
std::string Literal(const std::string& bytes) {
  std::string out = "(";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte > 0x7E) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + ")";
}

std::string Number(long long value) { return std::to_string(value); }

}  // namespace

Bytes MakePdf(std::uint32_t widthPoints, std::uint32_t heightPoints, const std::vector<std::string>& lines) {
  const long long w = widthPoints;
  const long long h = heightPoints;
  // A frame 18 points inside the edge, a filled block, then the lines of text.
  std::string content = "q 2 w 18 18 " + Number(w - 36) + " " + Number(h - 36) + " re S Q\n";
  content += "q 0.2 g 36 " + Number(h - 96) + " 120 40 re f Q\n";
  content += "BT /F1 14 Tf 16 TL 36 " + Number(h - 120) + " Td\n";
  for (const std::string& line : lines) content += Literal(line) + " Tj T*\n";
  content += "ET";  // the line end before "endstream" is not part of the stream

  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(w) + " " + Number(h) +
          "] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>",
      "<< /Length " + Number(static_cast<long long>(content.size())) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
  };
  // The binary comment tells file transfer programs that the file is not text.
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += Number(static_cast<long long>(i + 1)) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + Number(static_cast<long long>(objects.size() + 1)) + "\n";
  pdf += "0000000000 65535 f\r\n";  // every entry is exactly 20 bytes
  for (const std::size_t offset : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010llu 00000 n\r\n", static_cast<unsigned long long>(offset));
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + Number(static_cast<long long>(objects.size() + 1)) + " /Root 1 0 R >>\n";
  pdf += "startxref\n" + Number(static_cast<long long>(xref)) + "\n%%EOF\n";
  return Bytes(pdf.begin(), pdf.end());
}

}  // namespace esproduce
