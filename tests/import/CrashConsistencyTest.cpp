// Stopping the import process at every page hand-over and at every change to the file
// system, then importing again to the end: every page arrives at least once, no document
// goes before all its pages were accepted, the documents holding images that never reach
// the host stay whole, and nothing else is left.
#include <set>

#include <gtest/gtest.h>

#include "tests/import/ImportFixture.h"

namespace {

using namespace estest;

struct Crash {};

constexpr int kGroups = 2;
constexpr int kDocuments = 3;
constexpr int kPages = 2;

std::string DocName(int g, int d) { return "G" + std::to_string(g) + "D" + std::to_string(d); }

// Documents with images the import never hands over: each must stay, whole.
esproduce::GroupPlan KeptGroup() {
  // A 4-image "1.pg" with 2 pages announced, a 2.pg that holds two images, a PDF with a
  // page file beside it.
  esproduce::DocumentPlan further = NamedDocument("K2", 2);
  further.files[1].content = Tiff(2);
  return MakeGroup("g3", {DocumentWith("K1", {{"1.pg", Tiff(4)}}, AttrV2({u"K1/p1", u"K1/p2"})), further,
                          DocumentWith("K3", {{"1.pg", PdfBytes()}, {"2.pg", Tiff(1)}})});
}

void BuildStorage(TempStorage& storage) {
  esproduce::StoragePlan plan = Plan(kGroups, kDocuments, kPages);
  plan.groups.push_back(KeptGroup());
  storage.Write(plan);
  // Written long ago: a group the import empties is cleaned up by the next scan.
  for (const auto& group : plan.groups) AgeLock(storage / group.folderName);
}

// The pages of groups g1 and g2 that were not accepted: of every document, or only of
// those that lost a file.
std::string Unaccepted(const TempStorage& storage, const std::set<std::u16string>& accepted, bool ofDamagedOnly) {
  std::string out;
  for (int g = 1; g <= kGroups; ++g)
    for (int d = 1; d <= kDocuments; ++d) {
      const std::string folder = "g" + std::to_string(g) + "/" + DocName(g, d);
      bool whole = storage.Exists(folder + "/SC_ATTR.BIN");
      for (int p = 1; p <= kPages; ++p) whole = whole && storage.Exists(folder + "/" + std::to_string(p) + ".pg");
      for (int p = 1; p <= kPages && !(ofDamagedOnly && whole); ++p)
        if (!accepted.count(es::FromUtf8(DocName(g, d) + "/p" + std::to_string(p))))
          out += DocName(g, d) + "/p" + std::to_string(p) + " ";
    }
  return out;
}

// Runs the first import with `arm` preparing the stop; returns false once the stop no
// longer happens (n is past the last point).
bool StopThenFinish(int n, const std::function<void(RecordingCallback&, es::platform::FaultyPlatform&)>& arm) {
  TempStorage storage;
  BuildStorage(storage);
  const auto kept = Tree(storage / "g3");
  std::set<std::u16string> accepted;
  bool stopped = false;
  {
    Importer first;
    first.callback.unattended = true;
    es::platform::FaultyPlatform faulty;
    arm(first.callback, faulty);
    try {
      first.All(storage, &faulty);
    } catch (const Crash&) {
      stopped = true;
    }
    for (const auto& id : first.callback.AcceptedIds()) accepted.insert(id);
  }
  if (!stopped) return false;
  EXPECT_EQ("", Unaccepted(storage, accepted, true)) << "stop " << n << ": lost files before these were accepted";
  {
    Importer second;
    second.callback.unattended = true;
    second.All(storage);
    int nameless = 0;  // accepted without the name its attribute file gives it
    for (const auto& id : second.callback.AcceptedIds()) {
      accepted.insert(id);
      nameless += id.find(u'/') == std::u16string::npos;
    }
    // Only the kept PDF page, at every scan: a page stripped of its attributes is a second
    // copy the host cannot recognise.
    EXPECT_EQ(1, nameless) << "stop " << n << ": pages of a finished document came back as new ones";
  }
  EXPECT_EQ("", Unaccepted(storage, accepted, false)) << "stop " << n << ": these never arrived";
  EXPECT_EQ(kept, Tree(storage / "g3")) << "stop " << n << ": a document with images never handed over changed";
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(storage.root)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"g3"}, left) << "stop " << n << ": more than the kept documents is left";
  return true;
}

TEST(CrashConsistency, StopAtEveryPageHandOver) {
  int n = 1;
  while (StopThenFinish(n, [n](RecordingCallback& callback, es::platform::FaultyPlatform&) {
    callback.beforeAnswer = [n](int call) {
      if (call == n) throw Crash{};
    };
  }))
    ++n;
  // The kept group hands over K1's two pages, K2's two and K3's PDF page.
  EXPECT_EQ(kGroups * kDocuments * kPages + 5 + 1, n) << "every hand-over was a stopping point";
}

TEST(CrashConsistency, StopAtEveryChangeToTheFileSystem) {
  using es::platform::CallKind;
  int n = 1;
  while (StopThenFinish(n, [n](RecordingCallback&, es::platform::FaultyPlatform& faulty) {
    faulty.RunAt({CallKind::Delete, CallKind::Rename, CallKind::Write}, n,
                 [] { throw Crash{}; });
  }))
    ++n;
  EXPECT_GT(n, kGroups * kDocuments * 3) << "deletes, renames and writes were all stopping points";
}

}  // namespace
