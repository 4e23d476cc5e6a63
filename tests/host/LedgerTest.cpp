// The delivery ledger read back after it was cut at any byte or had a bit flipped: the
// records before the damage are kept, nothing after it, and no page is ever known that
// was not recorded whole.
#include <set>

#include <gtest/gtest.h>

#include "host/Ledger.h"
#include "host/OutputFolder.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using eshost::Key;
using eshost::Ledger;

Key KeyOf(int n) {
  Key k{};
  k[0] = static_cast<std::uint8_t>(n);
  k[31] = 0xA5;
  return k;
}

// The journal's opening line, before its first record.
constexpr std::size_t kOpening = 16;

std::set<int> KnownPages(const Ledger& ledger) {
  std::set<int> known;
  for (int n = 1; n <= 3; ++n)
    if (ledger.FindPage(KeyOf(n)) != nullptr) known.insert(n);
  return known;
}

TEST(DeliveryLedger, DamagedJournalKeepsItsSoundRecordsAndNoOther) {
  estest::TempFolder dir;
  const fs::path file = dir.root / "ledger.journal";
  std::string why;
  // Records: state, page 1, page 2, a message, page 1 again, page 3; with the pages
  // known once each record is whole.
  std::vector<std::pair<std::uint64_t, std::set<int>>> whole;  // record end, pages known
  {
    Ledger ledger;
    ASSERT_TRUE(ledger.Compact(file, 0, &why)) << why;
    whole.push_back({ledger.Bytes(), {}});
    auto flushed = [&](bool staged) {
      ASSERT_TRUE(staged) << why;
      ASSERT_TRUE(ledger.JournalFile().Sync(&why)) << why;
      ledger.Commit();
      whole.push_back({ledger.Bytes(), KnownPages(ledger)});
    };
    flushed(ledger.StagePage(KeyOf(1), 1, 100, 10, KeyOf(9), nullptr, &why));
    flushed(ledger.StagePage(KeyOf(2), 2, 100, 20, KeyOf(9), nullptr, &why));
    ASSERT_TRUE(ledger.AppendMessage(KeyOf(7), "g/D1", 100, 101, "damaged", &why)) << why;
    whole.push_back({ledger.Bytes(), KnownPages(ledger)});
    flushed(ledger.StageRepeat(KeyOf(1), 3, 102, 30, &why));
    flushed(ledger.StagePage(KeyOf(3), 4, 103, 40, KeyOf(9), nullptr, &why));
  }
  const std::string intact = dir.Read(file);
  ASSERT_EQ(whole.back().first, intact.size());
  // Cut at every byte, and one bit flipped in every byte: what the records that end before
  // the damage hold is known, nothing else; a cut between two records damages nothing.
  for (const bool flip : {false, true}) {
    for (std::size_t at = 0; at < intact.size() + (flip ? 0 : 1); ++at) {
      SCOPED_TRACE((flip ? "bit flipped in byte " : "cut at byte ") + std::to_string(at));
      std::string bytes = intact.substr(0, flip ? intact.size() : at);
      if (flip) bytes[at] = static_cast<char>(bytes[at] ^ (1 << (at % 8)));
      dir.Write("copy.journal", bytes);
      Ledger ledger;
      const Ledger::ReadReport report = ledger.Read(dir.root / "copy.journal");
      std::size_t records = 0;
      std::set<int> known;
      bool boundary = !flip && (at == 0 || at == kOpening);
      for (std::size_t i = 0; i < whole.size() && whole[i].first <= at; ++i) {
        records = i + 1;
        known = whole[i].second;
        boundary = boundary || (!flip && whole[i].first == at);
      }
      if (!flip) {
        EXPECT_EQ(records, report.records);
      }
      EXPECT_EQ(!boundary, report.damaged);
      EXPECT_EQ(known, KnownPages(ledger));
    }
  }
  // eshost's output folder says what it kept of a damaged ledger, and rewrites it sound.
  dir.Write("out/ledger.journal", intact.substr(0, intact.size() - 3));
  for (const bool damaged : {true, false}) {
    eshost::OutputFolder folder;
    std::vector<std::string> notes;
    bool busy = false;
    ASSERT_TRUE(folder.Open({dir.root / "out", 30}, &notes, &busy, &why)) << why;
    std::string all;
    for (const auto& n : notes) all += n + "\n";
    EXPECT_EQ(damaged, all.find("kept the 5 record(s)") != std::string::npos) << all;
    EXPECT_EQ(nullptr, folder.Journal().FindPage(KeyOf(3)));
  }
}

}  // namespace
