// Feeds arbitrary bytes to group discovery as a lock file and as an order file. The lock
// reader must give the first line of the text; the ordering must give a permutation of
// the folders, the same one as a plain line-by-line search; and it must agree with the
// plain search on arbitrary arrays with duplicates made from the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/Text.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace {

namespace fs = std::filesystem;
using es::Str;
using es::StrArray;

struct Group {
  fs::path root;
  Group() {
    root = fs::temp_directory_path() / ("es-lockorder-fuzz-" + std::to_string(std::random_device()()));
    fs::remove_all(root);
    for (const char* name : {"A", "B", "C", "Doc 1", "doc1", "x.y"}) fs::create_directories(root / name);
  }
  ~Group() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Group& TheGroup() {
  static Group group;
  return group;
}

void WriteFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

StrArray ReferenceOrder(StrArray folders, const StrArray& lines) {
  StrArray ordered;
  for (const Str& line : lines) {
    const auto it = std::find(folders.begin(), folders.end(), line);
    if (it == folders.end()) continue;
    ordered.push_back(line);
    folders.erase(it);
  }
  ordered.insert(ordered.end(), folders.begin(), folders.end());
  return ordered;
}

StrArray LinesOf(Str text) {
  StrArray lines;
  Str line;
  while (es::TakeLine(line, text)) lines.push_back(line);
  return lines;
}

bool SameElements(StrArray a, StrArray b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

Str AnsiUpToZero(const std::uint8_t* data, std::size_t size) {
  const std::size_t count = static_cast<std::size_t>(std::find(data, data + size, std::uint8_t{0}) - data);
  return count == 0 ? Str() : es::platform::Os().AnsiToUtf16(reinterpret_cast<const char*>(data), count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  const Group& group = TheGroup();
  const Str storage = group.root.u16string();
  const Str text = AnsiUpToZero(data, size);

  // Lock file.
  WriteFile(group.root / "A" / "GR_LOCK.TXT", data, size);
  Str name = u"stale";
  const bool available = es::ReadGroupLock(storage, u"A", name);
  if (available != (size < es::layout::kLockFileLimit)) std::abort();
  if (available && name != es::FirstLineUnlessLeadingCr(text)) std::abort();
  if (!available && !name.empty()) std::abort();

  // Order file over the real folders, with entries already in the array.
  const Str pattern = es::layout::ListingPattern(storage);
  const fs::path order = group.root / "Doc_Order.txt";
  fs::remove(order);
  StrArray base = {u"A", u"B"};
  es::ListSubFolders(pattern, base);
  WriteFile(order, data, size);
  StrArray got = {u"A", u"B"};
  es::ListSubFolders(pattern, got);
  if (!SameElements(got, base)) std::abort();
  if (got != ReferenceOrder(base, LinesOf(text))) std::abort();

  // The ordering step alone: folders and lines both cut from the text.
  StrArray pieces;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t to = text.find_first_of(u"\r\n;", from);
    if (to == Str::npos) to = text.size();
    pieces.push_back(text.substr(from, to - from));
    from = to + 1;
  }
  const StrArray folders(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(pieces.size() / 2));
  const StrArray lines(pieces.begin() + static_cast<std::ptrdiff_t>(pieces.size() / 2), pieces.end());
  StrArray ordered = folders;
  std::vector<es::StrView> views(lines.begin(), lines.end());
  es::listing::OrderByLines(views, ordered);
  if (ordered != ReferenceOrder(folders, lines)) std::abort();
  return 0;
}
