// Stopping the import process at every page hand-over and at every change to the file
// system, then importing again to the end: every page arrives at least once, no document
// goes before all its pages were accepted, the documents holding images that never reach
// the host stay whole, and nothing else is left.
#include <chrono>
#include <set>

#include <gtest/gtest.h>

#include "base/ModuleState.h"
#include "platform/FaultInjection.h"
#include "storage/GroupImport.h"
#include "storage/Listing.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/Capture.h"

namespace {

using namespace estest;

struct Crash {};

constexpr int kGroups = 2;
constexpr int kDocuments = 3;
constexpr int kPages = 2;

std::string DocName(int g, int d) { return "G" + std::to_string(g) + "D" + std::to_string(d); }

// Documents with images the import never hands over: each must stay, whole.
esproduce::GroupPlan KeptGroup() {
  esproduce::DocumentPlan beyond;  // a 4-image "1.pg" with 2 pages announced
  beyond.folderName = "K1";
  beyond.files.push_back({"1.pg", Tiff(4)});
  beyond.attributeFile = AttrV2({u"K1/p1", u"K1/p2"});
  esproduce::DocumentPlan further = NamedDocument("K2", 2);  // its 2.pg holds two images
  further.files[1].content = Tiff(2);
  esproduce::DocumentPlan beside;  // a PDF with a page file beside it
  beside.folderName = "K3";
  beside.files.push_back({"1.pg", PdfBytes()});
  beside.files.push_back({"2.pg", Tiff(1)});
  return MakeGroup("g3", {beyond, further, beside});
}

// Every entry below `root`, one per line.
std::string Listing(const std::filesystem::path& root) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    names.insert(std::filesystem::relative(entry.path(), root).generic_string());
  std::string out;
  for (const auto& n : names) out += n + "\n";
  return out;
}

void BuildStorage(TempStorage& storage) {
  esproduce::StoragePlan plan;
  for (int g = 1; g <= kGroups; ++g) {
    std::vector<esproduce::DocumentPlan> docs;
    std::vector<std::string> order;
    for (int d = 1; d <= kDocuments; ++d) {
      docs.push_back(NamedDocument(DocName(g, d), kPages));
      order.push_back(DocName(g, d));
    }
    plan.groups.push_back(MakeGroup("g" + std::to_string(g), docs, order));
  }
  plan.groups.push_back(KeptGroup());
  storage.Write(plan);
  // Written long ago: a group the import empties is cleaned up by the next scan.
  for (const auto& group : plan.groups) {
    const auto lock = storage.root / group.folderName / "GR_LOCK.TXT";
    std::filesystem::last_write_time(lock, std::filesystem::last_write_time(lock) - std::chrono::minutes(5));
  }
}

void ImportAll(ElementHolder& holder, RecordingCallback& callback, const TempStorage& storage) {
  es::StrArray folders;
  es::StrArray names;
  es::DiscoverGroups(storage.Dir(), folders, names);
  es::StrArray paths;
  for (const auto& f : folders) paths.push_back(es::JoinPath(storage.Dir(), f));
  holder.element->callback = &callback;
  es::ModuleStateScope scope;
  es::ImportGroups(*holder.element, paths, names, nullptr);
}

// Documents that lost any file must have had every page accepted.
void ExpectNoDocumentLostEarly(const TempStorage& storage, const std::set<std::u16string>& accepted, int n) {
  for (int g = 1; g <= kGroups; ++g)
    for (int d = 1; d <= kDocuments; ++d) {
      const std::string folder = "g" + std::to_string(g) + "/" + DocName(g, d);
      bool complete = storage.Exists(folder + "/SC_ATTR.BIN");
      for (int p = 1; p <= kPages; ++p) complete = complete && storage.Exists(folder + "/" + std::to_string(p) + ".pg");
      if (complete) continue;
      for (int p = 1; p <= kPages; ++p)
        EXPECT_TRUE(accepted.count(es::FromUtf8(DocName(g, d) + "/p" + std::to_string(p))))
            << "stop " << n << ": " << folder << " lost files before page " << p << " was accepted";
    }
}

void ExpectEverythingDelivered(const std::set<std::u16string>& accepted, int n) {
  for (int g = 1; g <= kGroups; ++g)
    for (int d = 1; d <= kDocuments; ++d)
      for (int p = 1; p <= kPages; ++p)
        EXPECT_TRUE(accepted.count(es::FromUtf8(DocName(g, d) + "/p" + std::to_string(p))))
            << "stop " << n << ": " << DocName(g, d) << " page " << p << " never arrived";
}

// Runs the first import with `arm` preparing the stop; returns false once the stop no
// longer happens (n is past the last point).
bool StopThenFinish(int n, const std::function<void(RecordingCallback&, es::platform::FaultyPlatform&)>& arm) {
  TempStorage storage;
  BuildStorage(storage);
  const std::string kept = Listing(storage.root / "g3");
  std::set<std::u16string> accepted;
  bool stopped = false;
  {
    ElementHolder holder;
    RecordingCallback callback;
    callback.unattended = true;
    es::platform::FaultyPlatform faulty;
    arm(callback, faulty);
    es::platform::ScopedPlatform scope(faulty);
    try {
      ImportAll(holder, callback, storage);
    } catch (const Crash&) {
      stopped = true;
    }
    for (const auto& id : callback.AcceptedIds()) accepted.insert(id);
  }
  if (!stopped) return false;
  ExpectNoDocumentLostEarly(storage, accepted, n);
  {
    ElementHolder holder;
    RecordingCallback callback;
    callback.unattended = true;
    ImportAll(holder, callback, storage);
    for (const auto& id : callback.AcceptedIds()) accepted.insert(id);
  }
  ExpectEverythingDelivered(accepted, n);
  EXPECT_EQ(kept, Listing(storage.root / "g3")) << "stop " << n << ": a document with images never handed over lost files";
  EXPECT_EQ("g3\n" + [&] {
    std::string prefixed;
    std::size_t start = 0;
    while (start < kept.size()) {
      const std::size_t end = kept.find('\n', start);
      prefixed += "g3/" + kept.substr(start, end - start + 1);
      start = end + 1;
    }
    return prefixed;
  }(), Listing(storage.root)) << "stop " << n << ": more than the kept documents is left";
  return true;
}

TEST(CrashConsistency, StopAtEveryPageHandOver) {
  TraceCapture quiet;
  MessageCapture boxes;
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
  TraceCapture quiet;
  MessageCapture boxes;
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
