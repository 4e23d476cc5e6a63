#include "Inserts.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "LunmereUtf8.h"

namespace tessard {
namespace {

// FormatMessage numbers its inserts 1..99; printf inserts continue after them.
constexpr int kMaxArguments = 200;
// A width or precision beyond this is a broken text, not a layout wish.
constexpr int kMaxWidth = 1024;

enum class Length { kNone, kHH, kH, kL, kLL, kBigL, kSize, kPtrDiff, kIntMax, kI32, kI64, kPtrSized, kWide };

// The type an argument is read with: the promoted C type of the insert that names it.
enum class ArgType {
  kNone,  // named by no insert: read as a pointer to keep the later ones in step
  kInt,
  kUInt,
  kLong,
  kULong,
  kLongLong,
  kULongLong,
  kSize,
  kPtrDiff,
  kIntMax,
  kUIntMax,
  kDouble,
  kLongDouble,
  kWideText,
  kNarrowText,
  kPointer,
};

struct Directive {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool zero = false;
  bool alt = false;
  int width = -1;
  bool widthFromArg = false;
  int widthPosition = 0;
  int precision = -1;
  bool precisionFromArg = false;
  int precisionPosition = 0;
  Length length = Length::kNone;
  char16_t conversion = 0;
  int position = 0;
  bool numbered = false;
};

struct Piece {
  bool isInsert = false;
  std::u16string literal;
  Directive directive;
};

struct Arg {
  ArgType type = ArgType::kNone;
  long long signedValue = 0;
  unsigned long long unsignedValue = 0;
  double real = 0;
  const void* pointer = nullptr;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int ReadNumber(std::u16string_view text, std::size_t& i) {
  int value = 0;
  while (i < text.size() && IsDigit(text[i])) {
    if (value <= kMaxWidth) value = value * 10 + (text[i] - u'0');
    ++i;
  }
  return value > kMaxWidth ? kMaxWidth : value;
}

// Parses flags, width, precision, length and conversion from text[i]. Returns the index
// after the conversion, or npos when the text there is no insert.
std::size_t ParseDirective(std::u16string_view text, std::size_t i, Directive& directive, bool allowStar) {
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'-') {
      directive.left = true;
    } else if (c == u'+') {
      directive.plus = true;
    } else if (c == u' ') {
      directive.space = true;
    } else if (c == u'0') {
      directive.zero = true;
    } else if (c == u'#') {
      directive.alt = true;
    } else {
      break;
    }
  }
  if (i < text.size() && text[i] == u'*') {
    if (!allowStar) return std::u16string_view::npos;
    directive.widthFromArg = true;
    ++i;
  } else if (i < text.size() && IsDigit(text[i])) {
    directive.width = ReadNumber(text, i);
  }
  if (i < text.size() && text[i] == u'.') {
    ++i;
    if (i < text.size() && text[i] == u'*') {
      if (!allowStar) return std::u16string_view::npos;
      directive.precisionFromArg = true;
      ++i;
    } else {
      directive.precision = ReadNumber(text, i);
    }
  }
  auto startsWith = [&](std::u16string_view prefix) {
    return text.substr(i, prefix.size()) == prefix;
  };
  if (startsWith(u"hh")) {
    directive.length = Length::kHH, i += 2;
  } else if (startsWith(u"ll")) {
    directive.length = Length::kLL, i += 2;
  } else if (startsWith(u"I64")) {
    directive.length = Length::kI64, i += 3;
  } else if (startsWith(u"I32")) {
    directive.length = Length::kI32, i += 3;
  } else if (i < text.size()) {
    switch (text[i]) {
      case u'h': directive.length = Length::kH, ++i; break;
      case u'l': directive.length = Length::kL, ++i; break;
      case u'L': directive.length = Length::kBigL, ++i; break;
      case u'z': directive.length = Length::kSize, ++i; break;
      case u't': directive.length = Length::kPtrDiff, ++i; break;
      case u'j': directive.length = Length::kIntMax, ++i; break;
      case u'I': directive.length = Length::kPtrSized, ++i; break;
      case u'w': directive.length = Length::kWide, ++i; break;
      default: break;
    }
  }
  if (i >= text.size()) return std::u16string_view::npos;
  switch (text[i]) {
    case u'd': case u'i': case u'u': case u'o': case u'x': case u'X':
    case u'c': case u'C': case u's': case u'S': case u'p':
    case u'e': case u'E': case u'f': case u'F': case u'g': case u'G':
      directive.conversion = text[i];
      return i + 1;
    default:
      return std::u16string_view::npos;
  }
}

ArgType TypeOf(const Directive& directive) {
  const Length length = directive.length;
  switch (directive.conversion) {
    case u'd':
    case u'i':
      switch (length) {
        case Length::kL: return ArgType::kLong;
        case Length::kLL: case Length::kI64: return ArgType::kLongLong;
        case Length::kSize: case Length::kPtrDiff: case Length::kPtrSized: return ArgType::kPtrDiff;
        case Length::kIntMax: return ArgType::kIntMax;
        default: return ArgType::kInt;
      }
    case u'u':
    case u'o':
    case u'x':
    case u'X':
      switch (length) {
        case Length::kL: return ArgType::kULong;
        case Length::kLL: case Length::kI64: return ArgType::kULongLong;
        case Length::kSize: case Length::kPtrDiff: case Length::kPtrSized: return ArgType::kSize;
        case Length::kIntMax: return ArgType::kUIntMax;
        default: return ArgType::kUInt;
      }
    case u'c':
    case u'C':
      return ArgType::kInt;
    case u's':
      return length == Length::kH ? ArgType::kNarrowText : ArgType::kWideText;
    case u'S':
      // The other width than %s, as in the wide printf family.
      return (length == Length::kL || length == Length::kWide) ? ArgType::kWideText
                                                               : ArgType::kNarrowText;
    case u'p':
      return ArgType::kPointer;
    default:
      return length == Length::kBigL ? ArgType::kLongDouble : ArgType::kDouble;
  }
}

Arg Fetch(ArgType type, va_list& args) {
  Arg arg;
  arg.type = type;
  auto setSigned = [&](long long v) {
    arg.signedValue = v;
    arg.unsignedValue = static_cast<unsigned long long>(v);
  };
  auto setUnsigned = [&](unsigned long long v) {
    arg.unsignedValue = v;
    arg.signedValue = static_cast<long long>(v);
  };
  switch (type) {
    case ArgType::kInt: setSigned(va_arg(args, int)); break;
    case ArgType::kUInt: setUnsigned(va_arg(args, unsigned int)); break;
    case ArgType::kLong: setSigned(va_arg(args, long)); break;
    case ArgType::kULong: setUnsigned(va_arg(args, unsigned long)); break;
    case ArgType::kLongLong: setSigned(va_arg(args, long long)); break;
    case ArgType::kULongLong: setUnsigned(va_arg(args, unsigned long long)); break;
    case ArgType::kSize: setUnsigned(va_arg(args, std::size_t)); break;
    case ArgType::kPtrDiff: setSigned(va_arg(args, std::ptrdiff_t)); break;
    case ArgType::kIntMax: setSigned(va_arg(args, std::intmax_t)); break;
    case ArgType::kUIntMax: setUnsigned(va_arg(args, std::uintmax_t)); break;
    case ArgType::kDouble: arg.real = va_arg(args, double); break;
    case ArgType::kLongDouble: arg.real = static_cast<double>(va_arg(args, long double)); break;
    case ArgType::kWideText:
    case ArgType::kNarrowText:
    case ArgType::kPointer:
    case ArgType::kNone:
      arg.pointer = va_arg(args, const void*);
      setUnsigned(reinterpret_cast<std::uintptr_t>(arg.pointer));
      break;
  }
  return arg;
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

void Pad(std::u16string& out, const Directive& directive, std::u16string_view body) {
  const int padding = directive.width - static_cast<int>(body.size());
  if (padding > 0 && !directive.left) out.append(static_cast<std::size_t>(padding), u' ');
  out += body;
  if (padding > 0 && directive.left) out.append(static_cast<std::size_t>(padding), u' ');
}

// Sign or base prefix, then digits, padded as printf pads numbers.
void PadNumber(std::u16string& out, const Directive& directive, std::string_view prefix,
               std::string_view digits, bool zeroAllowed) {
  const int length = static_cast<int>(prefix.size() + digits.size());
  const int padding = directive.width > length ? directive.width - length : 0;
  if (directive.left) {
    AppendAscii(out, prefix);
    AppendAscii(out, digits);
    out.append(static_cast<std::size_t>(padding), u' ');
  } else if (directive.zero && zeroAllowed) {
    AppendAscii(out, prefix);
    out.append(static_cast<std::size_t>(padding), u'0');
    AppendAscii(out, digits);
  } else {
    out.append(static_cast<std::size_t>(padding), u' ');
    AppendAscii(out, prefix);
    AppendAscii(out, digits);
  }
}

void AppendInteger(std::u16string& out, const Directive& directive, const Arg& arg) {
  const char16_t conversion = directive.conversion;
  const bool isSigned = conversion == u'd' || conversion == u'i';
  bool negative = false;
  unsigned long long magnitude = arg.unsignedValue;
  if (isSigned) {
    long long value = arg.signedValue;
    if (directive.length == Length::kHH) value = static_cast<signed char>(value);
    if (directive.length == Length::kH) value = static_cast<short>(value);
    negative = value < 0;
    magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                         : static_cast<unsigned long long>(value);
  } else {
    if (directive.length == Length::kHH) magnitude = static_cast<unsigned char>(magnitude);
    if (directive.length == Length::kH) magnitude = static_cast<unsigned short>(magnitude);
  }
  const int base = (conversion == u'x' || conversion == u'X') ? 16 : conversion == u'o' ? 8 : 10;
  char buffer[80];
  std::string digits;
  if (!(directive.precision == 0 && magnitude == 0)) {
    auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, base);
    digits.assign(buffer, result.ptr);
  }
  if (conversion == u'X') {
    for (char& c : digits) {
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  if (directive.precision > static_cast<int>(digits.size())) {
    digits.insert(0, static_cast<std::size_t>(directive.precision) - digits.size(), '0');
  }
  std::string prefix;
  if (negative) {
    prefix = "-";
  } else if (isSigned && directive.plus) {
    prefix = "+";
  } else if (isSigned && directive.space) {
    prefix = " ";
  }
  if (directive.alt && base == 16 && magnitude != 0) prefix += conversion == u'X' ? "0X" : "0x";
  if (directive.alt && base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(0, "0");
  PadNumber(out, directive, prefix, digits, directive.precision < 0);
}

void AppendReal(std::u16string& out, const Directive& directive, double value) {
  const char16_t conversion = directive.conversion;
  const bool upper = conversion == u'E' || conversion == u'F' || conversion == u'G';
  std::string prefix;
  if (std::signbit(value)) {
    prefix = "-";
  } else if (directive.plus) {
    prefix = "+";
  } else if (directive.space) {
    prefix = " ";
  }
  const double magnitude = std::fabs(value);
  std::string digits;
  if (std::isnan(magnitude)) {
    digits = "nan";
  } else if (std::isinf(magnitude)) {
    digits = "inf";
  } else {
    const int precision = directive.precision < 0 ? 6 : (directive.precision > 100 ? 100 : directive.precision);
    std::chars_format format = std::chars_format::general;
    if (conversion == u'e' || conversion == u'E') format = std::chars_format::scientific;
    if (conversion == u'f' || conversion == u'F') format = std::chars_format::fixed;
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude, format, precision);
    digits.assign(buffer, result.ec == std::errc() ? result.ptr : buffer);
  }
  if (upper) {
    for (char& c : digits) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  PadNumber(out, directive, prefix, digits, std::isfinite(value));
}

// No text lies in the lowest 64 KiB of an address space: a "pointer" there is a number
// passed where the text expected a string, shown as the number rather than read.
bool IsImplausibleText(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer) < 0x10000;
}

void AppendText(std::u16string& out, const Directive& directive, const Arg& arg, bool wide) {
  if (arg.pointer == nullptr) {
    Pad(out, directive, u"(null)");
    return;
  }
  if (IsImplausibleText(arg.pointer)) {
    std::u16string number;
    AppendAscii(number, std::to_string(reinterpret_cast<std::uintptr_t>(arg.pointer)));
    Pad(out, directive, number);
    return;
  }
  const std::size_t limit = directive.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(directive.precision);
  if (wide) {
    const auto* text = static_cast<const char16_t*>(arg.pointer);
    std::size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    Pad(out, directive, std::u16string_view(text, length));
  } else {
    const auto* text = static_cast<const char*>(arg.pointer);
    std::size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    Pad(out, directive, lunmere::Utf8ToUtf16(std::string_view(text, length)));
  }
}

void AppendInsert(std::u16string& out, Directive directive, const std::vector<Arg>& args) {
  if (directive.widthFromArg) {
    long long width = args[static_cast<std::size_t>(directive.widthPosition)].signedValue;
    if (width < 0) directive.left = true, width = -width;
    directive.width = width > kMaxWidth ? kMaxWidth : static_cast<int>(width);
  }
  if (directive.precisionFromArg) {
    const long long precision = args[static_cast<std::size_t>(directive.precisionPosition)].signedValue;
    directive.precision = precision < 0 ? -1 : precision > kMaxWidth ? kMaxWidth : static_cast<int>(precision);
  }
  const Arg& arg = args[static_cast<std::size_t>(directive.position)];
  switch (directive.conversion) {
    case u'd': case u'i': case u'u': case u'o': case u'x': case u'X':
      AppendInteger(out, directive, arg);
      break;
    case u'c':
    case u'C': {
      // %c is one UTF-16 unit; %hc one byte of an 8-bit text.
      const char16_t unit = directive.length == Length::kH
                                ? static_cast<char16_t>(static_cast<unsigned char>(arg.signedValue))
                                : static_cast<char16_t>(arg.signedValue);
      Pad(out, directive, std::u16string_view(&unit, 1));
      break;
    }
    case u's':
    case u'S':
      AppendText(out, directive, arg, TypeOf(directive) == ArgType::kWideText &&
                                     (arg.type == ArgType::kWideText || arg.type == ArgType::kNone));
      break;
    case u'p': {
      char buffer[32];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, arg.unsignedValue, 16);
      std::string digits(buffer, result.ptr);
      for (char& c : digits) {
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
      }
      digits.insert(0, 2 * sizeof(void*) - digits.size(), '0');
      PadNumber(out, directive, "", digits, false);
      break;
    }
    default:
      AppendReal(out, directive, arg.real);
      break;
  }
}

}  // namespace

std::u16string FillInserts(std::u16string_view text, InsertSyntax syntax, va_list args) {
  std::vector<Piece> pieces;
  std::u16string literal;
  auto flush = [&] {
    if (!literal.empty()) {
      Piece piece;
      piece.literal = std::move(literal);
      pieces.push_back(std::move(piece));
      literal.clear();
    }
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c != u'%' || i + 1 >= text.size()) {
      literal += c;
      ++i;
      continue;
    }
    const char16_t next = text[i + 1];
    if (next >= u'1' && next <= u'9') {
      // A numbered insert: %1..%99, optionally followed by !printf-format!.
      Directive directive;
      directive.numbered = true;
      directive.conversion = u's';
      directive.position = next - u'0';
      i += 2;
      if (i < text.size() && IsDigit(text[i])) directive.position = directive.position * 10 + (text[i++] - u'0');
      if (i < text.size() && text[i] == u'!') {
        const std::size_t close = text.find(u'!', i + 1);
        Directive typed;
        typed.numbered = true;
        typed.position = directive.position;
        if (close != std::u16string_view::npos &&
            ParseDirective(text.substr(0, close), i + 1, typed, false) == close) {
          directive = typed;
          i = close + 1;
        }
      }
      flush();
      Piece piece;
      piece.isInsert = true;
      piece.directive = directive;
      pieces.push_back(std::move(piece));
      continue;
    }
    if (next == u'%') {
      literal += u'%';
      i += 2;
      continue;
    }
    if (syntax == InsertSyntax::kNumbered) {
      // The escapes of message texts.
      i += 2;
      switch (next) {
        case u'0': flush(); i = text.size(); break;
        case u'n': literal += u"\r\n"; break;
        case u'r': literal += u'\r'; break;
        case u't': literal += u'\t'; break;
        default: literal += next; break;
      }
      continue;
    }
    Directive directive;
    const std::size_t end = ParseDirective(text, i + 1, directive, true);
    if (end == std::u16string_view::npos) {
      literal += c;
      ++i;
      continue;
    }
    flush();
    Piece piece;
    piece.isInsert = true;
    piece.directive = directive;
    pieces.push_back(std::move(piece));
    i = end;
  }
  flush();

  // Printf inserts take, in order, the argument numbers no numbered insert names.
  std::vector<bool> named(kMaxArguments + 2, false);
  for (const Piece& piece : pieces) {
    if (piece.isInsert && piece.directive.numbered) named[static_cast<std::size_t>(piece.directive.position)] = true;
  }
  int nextFree = 1;
  auto takeFree = [&] {
    while (nextFree <= kMaxArguments && named[static_cast<std::size_t>(nextFree)]) ++nextFree;
    return nextFree <= kMaxArguments ? nextFree++ : 0;
  };
  std::vector<ArgType> types(kMaxArguments + 1, ArgType::kNone);
  int highest = 0;
  auto claim = [&](int position, ArgType type) {
    if (types[static_cast<std::size_t>(position)] == ArgType::kNone) types[static_cast<std::size_t>(position)] = type;
    if (position > highest) highest = position;
  };
  for (Piece& piece : pieces) {
    if (!piece.isInsert) continue;
    Directive& directive = piece.directive;
    if (!directive.numbered) {
      if (directive.widthFromArg) directive.widthPosition = takeFree();
      if (directive.precisionFromArg) directive.precisionPosition = takeFree();
      directive.position = takeFree();
      if (directive.position == 0 || (directive.widthFromArg && directive.widthPosition == 0) ||
          (directive.precisionFromArg && directive.precisionPosition == 0)) {
        // More inserts than any caller passes: leave the rest as written.
        piece.isInsert = false;
        piece.literal = u"%?";
        continue;
      }
      if (directive.widthFromArg) claim(directive.widthPosition, ArgType::kInt);
      if (directive.precisionFromArg) claim(directive.precisionPosition, ArgType::kInt);
    }
    claim(directive.position, TypeOf(directive));
  }

  std::vector<Arg> values(static_cast<std::size_t>(highest) + 1);
  va_list copy;
  va_copy(copy, args);
  for (int position = 1; position <= highest; ++position) {
    values[static_cast<std::size_t>(position)] = Fetch(types[static_cast<std::size_t>(position)], copy);
  }
  va_end(copy);

  std::u16string out;
  for (const Piece& piece : pieces) {
    if (piece.isInsert) {
      AppendInsert(out, piece.directive, values);
    } else {
      out += piece.literal;
    }
  }
  return out;
}

}  // namespace tessard
