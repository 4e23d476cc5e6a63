#include "attrs/CommandsParse.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace es::attrs {

namespace {

// POSIX extended grammar. The standard library's default matcher recurses once per
// character and runs out of stack on long tokens from a hostile file; libstdc++ offers a
// matcher with bounded depth and polynomial time for patterns without back-references.
constexpr std::regex::flag_type kPatternFlags =
#if defined(__GLIBCXX__)
    std::regex::extended | std::regex_constants::__polynomial;
#else
    std::regex::extended;
#endif

// One UTF-16 unit per wide character, so that a token matches alike on every platform.
std::wstring Wide(StrView text) {
  std::wstring out;
  out.reserve(text.size());
  for (const char16_t c : text) out.push_back(static_cast<wchar_t>(c));
  return out;
}

constexpr std::array<CommandKeyword, 37> kKeywords = {{
    {1, u"ARCHIVID", nullptr},
    {kKeywordBarcode, u"BARCODE", nullptr},
    {3, u"COMPUTERNAME", nullptr},
    {kKeywordComp, u"COMP", &CompKeywordId},
    {7, u"DOCID", nullptr},
    {8, u"DOCTYPE", nullptr},
    {9, u"ENDORSER", nullptr},
    {10, u"FOUND_BARCODE", nullptr},
    {11, u"PAGES", nullptr},
    {13, u"SCANATTRIBS", nullptr},
    {14, u"USERNAME", nullptr},
    {kKeywordPileIndex, u"PILE_INDEX", nullptr},
    {15, u"CRC32", nullptr},
    {16, u"KVUSER", nullptr},
    {17, u"R3_DESTINATION", nullptr},
    {18, u"R3_PROTOCOL", nullptr},
    {19, u"R3_VERSION", nullptr},
    {20, u"ZRSERVER", nullptr},
    {21, u"ZRSERVERPORT", nullptr},
    {22, u"ZRUSERNAME", nullptr},
    {23, u"ZRDOCCREATEVERSION", nullptr},
    {24, u"ZRFOLDER", nullptr},
    {25, u"ZRDOCUMENTNAME", nullptr},
    {26, u"ZRWORKFLOWNAME", nullptr},
    {27, u"ZRWORKFLOWID", nullptr},
    {28, u"ZRWORKFLOWVERSION", nullptr},
    {29, u"ZRWORKFLOWATTACHTYPE", nullptr},
    {30, u"RENDITION", nullptr},
    {31, u"RENDER_OPTION", nullptr},
    {32, u"KVAPPL", nullptr},
    {33, u"R3_REFERENCE_CODE", nullptr},
    {34, u"ATTR", nullptr},
    {35, u"KVATTR_ENCODING", nullptr},
    {36, u"DMS_DOCTYPE", nullptr},
    {37, u"PMS_PROCESS_NAME", nullptr},
    {kKeywordScanBatch, u"SCANBATCH", nullptr},
    {kKeywordScanFolder, u"SCANFOLDER", nullptr},
}};

[[noreturn]] void OutOfRange(const char* what) { throw std::invalid_argument(what); }

}  // namespace

std::span<const CommandKeyword> CommandKeywordTable() { return kKeywords; }

const Str& CCommandsParseLine::GetToken(int index) const {
  if (index < 0 || index >= GetTokenCount()) OutOfRange("commands line: token index out of range");
  return tokens_[static_cast<std::size_t>(index)];
}

std::uint32_t CompKeywordId(const CCommandsParseLine& line, const CommandPatterns& patterns) {
  if (line.GetTokenCount() < 2) return kKeywordComp;
  const Str& argument = line.GetToken(1);
  if (EqualsNoCase(argument, u"IM")) return kKeywordCompImage;
  const std::wstring wide = Wide(argument);
  for (const std::wregex& pattern : patterns) {
    try {
      if (std::regex_match(wide, pattern)) return kKeywordCompPattern;
    } catch (const std::regex_error&) {
      // A token the matcher gives up on matches nothing.
    }
  }
  return kKeywordComp;
}

bool CCommandsParse::Parse(const Str& text, const Str& patterns) {
  std::size_t from = 0;
  while (from <= patterns.size()) {
    std::size_t to = patterns.find(u'\n', from);
    if (to == Str::npos) to = patterns.size();
    if (to > from) {
      try {
        patterns_.emplace_back(Wide(StrView(patterns).substr(from, to - from)), kPatternFlags);
      } catch (const std::regex_error&) {
        RecomputeIds();
        return false;
      }
    }
    from = to + 1;
  }

  lines_.clear();
  lines_.push_back(std::make_unique<CCommandsParseLine>());
  enum class State { Outside, InToken, InTokenAfterCr };
  State state = State::Outside;
  std::size_t start = 0;
  std::size_t carriageReturns = 0;
  auto endToken = [&](std::size_t end) { lines_.back()->AddToken(text.substr(start, end - start)); };

  for (std::size_t i = 0;; ++i) {
    const char16_t c = i < text.size() ? text[i] : u'\0';
    if (c == u'\0') {
      if (state != State::Outside) endToken(i);
      break;
    }
    switch (c) {
      case u' ':
      case u'\t':
      case u'\v':
        // After a CR the token runs on to the line feed, blanks included.
        if (state == State::InToken) {
          endToken(i);
          state = State::Outside;
          carriageReturns = 0;
        }
        break;
      case u'\r':
        ++carriageReturns;
        if (state == State::InToken) state = State::InTokenAfterCr;
        break;
      case u'\n':
        if (state != State::Outside) endToken(i - carriageReturns);
        state = State::Outside;
        carriageReturns = 0;
        // Lines without tokens are dropped at the end anyway; reuse an empty one.
        if (lines_.back()->GetTokenCount() > 0) lines_.push_back(std::make_unique<CCommandsParseLine>());
        break;
      default:
        if (state == State::Outside) {
          state = State::InToken;
          start = i;
          carriageReturns = 0;
        }
        break;
    }
  }

  std::erase_if(lines_, [](const std::unique_ptr<CCommandsParseLine>& line) { return line->GetTokenCount() == 0; });
  RecomputeIds();
  return true;
}

void CCommandsParse::RecomputeIds() {
  ids_.clear();
  ids_.reserve(lines_.size());
  for (const auto& line : lines_) {
    std::uint32_t id = kKeywordNone;
    for (const CommandKeyword& row : kKeywords) {
      if (!EqualsNoCase(line->GetToken(0), row.keyword)) continue;
      id = row.handler != nullptr ? row.handler(*line, patterns_) : row.id;
      break;
    }
    ids_.push_back(id);
  }
}

const CCommandsParseLine& CCommandsParse::GetLine(int index) const {
  if (index < 0 || index >= GetLineCount()) OutOfRange("commands file: line index out of range");
  return *lines_[static_cast<std::size_t>(index)];
}

const Str& CCommandsParse::GetToken(int line, int token) const { return GetLine(line).GetToken(token); }

std::uint32_t CCommandsParse::GetKeywordId(int index) const {
  GetLine(index);
  return ids_[static_cast<std::size_t>(index)];
}

bool CCommandsParse::GetKeywordValue(std::uint32_t id, int tokenIndex, Str& out) const {
  out.clear();
  for (int i = 0; i < GetLineCount(); ++i) {
    if (ids_[static_cast<std::size_t>(i)] != id) continue;
    const CCommandsParseLine& line = GetLine(i);
    if (tokenIndex != kAllArguments) {
      out = line.GetToken(tokenIndex);
      return true;
    }
    for (int t = 1; t < line.GetTokenCount(); ++t) {
      out += line.GetToken(t);
      out += u' ';
    }
    return true;
  }
  return false;
}

}  // namespace es::attrs
