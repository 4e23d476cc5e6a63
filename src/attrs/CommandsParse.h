// The commands file of a document: lines of blank-separated tokens whose first token is a
// keyword. The parser splits the text and maps each line's keyword to its id.
#pragma once

#include <cstdint>
#include <memory>
#include <regex>
#include <span>
#include <vector>

#include "base/Object.h"
#include "base/Text.h"

namespace es::attrs {

// Keyword ids the module asks for; the other rows of the table are recognised only.
inline constexpr std::uint32_t kKeywordNone = 0;
inline constexpr std::uint32_t kKeywordBarcode = 2;
inline constexpr std::uint32_t kKeywordComp = 4;
inline constexpr std::uint32_t kKeywordCompImage = 5;    // COMP IM
inline constexpr std::uint32_t kKeywordCompPattern = 6;  // COMP with an argument matching a pattern
inline constexpr std::uint32_t kKeywordPileIndex = 12;
inline constexpr std::uint32_t kKeywordScanBatch = 38;
inline constexpr std::uint32_t kKeywordScanFolder = 39;

// Token index that asks GetKeywordValue for all arguments of the line.
inline constexpr int kAllArguments = -1;

// One non-empty line: its tokens, never empty; token 0 is the keyword.
class CCommandsParseLine : public CObject {
 public:
  int GetTokenCount() const { return static_cast<int>(tokens_.size()); }
  // Throws std::invalid_argument for an index outside the line.
  const Str& GetToken(int index) const;
  void AddToken(Str token) { tokens_.push_back(std::move(token)); }

 private:
  StrArray tokens_;
};

// Patterns for the COMP keyword: POSIX extended grammar, case-sensitive, matched against a
// whole token. Tokens are matched one UTF-16 unit per character on every platform.
using CommandPatterns = std::vector<std::wregex>;

using KeywordHandler = std::uint32_t (*)(const CCommandsParseLine& line, const CommandPatterns& patterns);

struct CommandKeyword {
  std::uint32_t id;
  StrView keyword;
  KeywordHandler handler;  // null: the row's id stands
};

// The keyword table in its search order.
std::span<const CommandKeyword> CommandKeywordTable();

// COMP: 4 without an argument; 5 for "IM" in any case; 6 when the argument matches a
// pattern as a whole; 4 otherwise.
std::uint32_t CompKeywordId(const CCommandsParseLine& line, const CommandPatterns& patterns);

class CCommandsParse : public CObject {
 public:
  // Splits `text` into lines and tokens: tokens end at blanks, tabs and vertical tabs
  // (unless a CR came before them in the token), lines at LF, and the text at its end or
  // at a NUL. CRs before a token's LF are dropped from it. `patterns` holds patterns
  // separated by LF; false (no lines touched) when one of them does not compile.
  bool Parse(const Str& text, const Str& patterns);

  int GetLineCount() const { return static_cast<int>(lines_.size()); }
  // Out-of-range indexes throw std::invalid_argument.
  const CCommandsParseLine& GetLine(int index) const;
  const Str& GetToken(int line, int token) const;

  // The id of the line's keyword (compared without regard to case), 0 when unknown.
  std::uint32_t GetKeywordId(int line) const;

  // The first line with keyword `id`: its token `tokenIndex`, or with kAllArguments its
  // arguments, each followed by one blank. False (empty `out`) when no line has the id.
  // A token index outside that line throws std::invalid_argument.
  bool GetKeywordValue(std::uint32_t id, int tokenIndex, Str& out) const;

 private:
  // The keyword id of each line, found once the lines and patterns are known.
  void RecomputeIds();

  std::vector<std::unique_ptr<CCommandsParseLine>> lines_;
  std::vector<std::uint32_t> ids_;
  CommandPatterns patterns_;
};

}  // namespace es::attrs
