// Trace format texts checked against their arguments when the module is compiled: every
// insert takes an argument of the kind it reads, and no argument is left over unread.
// The logging layer reads arguments through a C argument list, where a wrong type is
// undefined behaviour; here it is a compile error instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace es {

// An argument the text has no insert for, passed along on purpose (a trace text whose
// wording is fixed but whose caller hands the path over all the same).
template <typename T>
struct PassedAlong {
  T value;
};
template <typename T>
PassedAlong(T) -> PassedAlong<T>;

namespace trace_format {

// What an insert reads, and what an argument is.
enum class Kind : std::uint8_t { Text, NarrowText, Int, UInt, Long, ULong, PassedAlong, Other };

template <typename T>
struct IsPassedAlong : std::false_type {};
template <typename T>
struct IsPassedAlong<PassedAlong<T>> : std::true_type {};

template <typename T>
constexpr Kind KindOf() {
  using U = std::decay_t<T>;
  if constexpr (std::is_same_v<U, const char16_t*> || std::is_same_v<U, char16_t*> ||
                std::is_same_v<U, std::u16string>) {
    return Kind::Text;
  } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
    return Kind::NarrowText;
  } else if constexpr (std::is_same_v<U, int> || std::is_same_v<U, char16_t> || std::is_same_v<U, short>) {
    return Kind::Int;
  } else if constexpr (std::is_same_v<U, unsigned int> || std::is_same_v<U, unsigned short>) {
    return Kind::UInt;
  } else if constexpr (std::is_same_v<U, long>) {
    return Kind::Long;
  } else if constexpr (std::is_same_v<U, unsigned long>) {
    return Kind::ULong;
  } else if constexpr (IsPassedAlong<U>::value) {
    return Kind::PassedAlong;
  } else {
    return Kind::Other;
  }
}

// An argument of kind `given` for an insert that reads `wanted`. A character insert
// reads an int, as the argument list promotes it; hexadecimal reads signed and unsigned
// alike.
constexpr bool Fits(Kind wanted, Kind given) {
  if (wanted == given) return true;
  if (wanted == Kind::UInt && given == Kind::Int) return true;
  if (wanted == Kind::ULong && given == Kind::Long) return true;
  return false;
}

inline constexpr int kMaxArgs = 16;

// One parse of a format text: which argument number each insert reads, and with which
// kind. `numbered` only: FormatMessage syntax (%1, %2!d!), as string resources have it.
template <typename CharT>
struct Parse {
  Kind wanted[kMaxArgs + 1] = {};
  bool used[kMaxArgs + 1] = {};
  int highest = 0;
  bool ok = true;

  constexpr void Need(int number, Kind kind) {
    if (number < 1 || number > kMaxArgs) {
      ok = false;
      return;
    }
    if (used[number] && wanted[number] != kind) ok = false;
    used[number] = true;
    wanted[number] = kind;
    if (number > highest) highest = number;
  }

  static constexpr bool Digit(CharT c) { return c >= CharT('0') && c <= CharT('9'); }

  // A width or precision: digits, or a '*' that takes an argument of its own.
  static constexpr void SkipCount(const CharT* s, std::size_t* i, int* stars) {
    if (s[*i] == CharT('*')) {
      ++*stars;
      ++*i;
    } else {
      while (Digit(s[*i])) ++*i;
    }
  }

  // A printf insert from `*i` (after the '%') up to its conversion letter; returns its
  // kind and counts the '*' widths it reads before the value.
  constexpr Kind Conversion(const CharT* s, std::size_t* i, int* stars) {
    while (s[*i] == CharT('-') || s[*i] == CharT('+') || s[*i] == CharT(' ') || s[*i] == CharT('0') ||
           s[*i] == CharT('#'))
      ++*i;
    SkipCount(s, i, stars);
    if (s[*i] == CharT('.')) {
      ++*i;
      SkipCount(s, i, stars);
    }
    char length = 0;
    if (s[*i] == CharT('h') || s[*i] == CharT('l')) length = static_cast<char>(s[(*i)++]);
    const CharT c = s[(*i)++];
    if (c == CharT('s')) return length == 'h' ? Kind::NarrowText : length == 0 ? Kind::Text : Kind::Other;
    if (c == CharT('d') || c == CharT('i')) return length == 'l' ? Kind::Long : length == 0 ? Kind::Int : Kind::Other;
    if (c == CharT('u') || c == CharT('x') || c == CharT('X'))
      return length == 'l' ? Kind::ULong : length == 0 ? Kind::UInt : Kind::Other;
    if (c == CharT('c') && length == 0) return Kind::Int;
    return Kind::Other;
  }

  constexpr Parse(const CharT* s, bool numberedOnly) {
    // First the numbered inserts, which name their numbers; then the printf inserts, which
    // take the numbers no numbered insert names, in order.
    for (int pass = 0; pass < 2 && ok; ++pass) {
      int next = 1;
      for (std::size_t i = 0; s[i] != CharT(0) && ok;) {
        if (s[i] != CharT('%')) {
          ++i;
          continue;
        }
        ++i;
        if (s[i] == CharT('%')) {
          ++i;
          continue;
        }
        if (Digit(s[i]) && s[i] != CharT('0')) {
          int number = 0;
          while (Digit(s[i]) && number <= kMaxArgs) number = number * 10 + (s[i++] - CharT('0'));
          Kind kind = Kind::Text;
          if (s[i] == CharT('!')) {
            ++i;
            int stars = 0;
            kind = Conversion(s, &i, &stars);
            if (s[i] != CharT('!') || stars != 0) ok = false;
            ++i;
          }
          if (pass == 0) Need(number, kind);
          continue;
        }
        if (numberedOnly) {
          // %n, %r, %t, %0, %. are escapes of FormatMessage; nothing else may follow '%'.
          if (s[i] == CharT('n') || s[i] == CharT('r') || s[i] == CharT('t') || s[i] == CharT('0') ||
              s[i] == CharT('.') || s[i] == CharT('!') || s[i] == CharT(' ')) {
            ++i;
            continue;
          }
          ok = false;
          continue;
        }
        int stars = 0;
        const Kind kind = Conversion(s, &i, &stars);
        if (kind == Kind::Other) ok = false;
        if (pass == 1) {
          // A '*' width or precision reads an int before the value.
          for (int k = 0; k <= stars; ++k) {
            while (next <= kMaxArgs && used[next]) ++next;
            Need(next, k < stars ? Kind::Int : kind);
            ++next;
          }
        }
      }
    }
  }
};

// Whether `text` reads exactly the arguments of `kinds` (a PassedAlong one is read by
// nothing, and must come last).
template <typename CharT>
constexpr bool Agrees(const CharT* text, const Kind* kinds, int count, bool numberedOnly) {
  Parse<CharT> parse(text, numberedOnly);
  if (!parse.ok) return false;
  int read = count;
  while (read > 0 && kinds[read - 1] == Kind::PassedAlong) --read;
  if (parse.highest != read) return false;
  for (int n = 1; n <= read; ++n) {
    if (!parse.used[n] || !Fits(parse.wanted[n], kinds[n - 1])) return false;
  }
  return true;
}

// Arguments of a string resource or a logging-layer message, whose texts are not known
// here: each must at least be something an insert can read.
constexpr bool Insertable(const Kind* kinds, int count) {
  for (int i = 0; i < count; ++i)
    if (kinds[i] == Kind::Other) return false;
  return true;
}

template <typename... Args>
struct Kinds {
  static constexpr Kind values[sizeof...(Args) + 1] = {KindOf<Args>()..., Kind::Other};
};

// What goes into the argument list: a string's text, the value of a passed-along one.
inline const char16_t* Pass(const std::u16string& text) { return text.c_str(); }
template <typename T>
T Pass(PassedAlong<T> along) {
  return along.value;
}
template <typename T>
T Pass(T value) {
  return value;
}

}  // namespace trace_format

// A format text of a trace line, checked when it is compiled against `Args`.
template <typename CharT, typename... Args>
struct TraceText {
  const CharT* text;
  // Only this constructor is consteval: the helpers it calls are constexpr, so that they
  // run when compiled with every compiler (clang refuses consteval calls nested in one).
  template <std::size_t N>
  consteval TraceText(const CharT (&literal)[N]) : text(literal) {
    if (!trace_format::Agrees(literal, trace_format::Kinds<Args...>::values, static_cast<int>(sizeof...(Args)),
                              false)) {
      throw "the trace text's inserts and its arguments do not agree";
    }
  }
};

}  // namespace es
