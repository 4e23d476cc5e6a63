// Storages written by others: links are never followed, an error is never taken for
// absence, only what was read is deleted, and a small file cannot make the import cost
// without bound. Nothing outside the storage may be read, changed or deleted.
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "ResourceIds.h"
#include "tests/import/ImportFixture.h"

namespace {

using namespace estest;
using es::platform::CallKind;

// A link, or false where this platform cannot make one (Wine answers success and makes
// nothing).
bool Link(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  if (fs::is_directory(target))
    fs::create_directory_symlink(target, link, ec);
  else
    fs::create_symlink(target, link, ec);
  return !ec && fs::is_symlink(fs::symlink_status(link, ec));
}

// A scan as a service runs it: no one to answer a message.
struct Scan : Importer {
  Scan() { callback.unattended = true; }
};

class HostileStorage : public ::testing::Test {
 protected:
  HostileStorage() {
    outside.Write("docs/1.pg", Tiff(1));
    outside.Write("docs/SC_ATTR.BIN", AttrV2({u"outside/p1"}));
    outside.Write("secret.txt", "only the service may read this");
    outside.Write("order.txt", "D2\r\nD1\r\n");
    fs::permissions(outside / "order.txt", fs::perms::owner_read);
    outside.Write("page.tif", Tiff(1, 9));
    outside.Write("group/GR_LOCK.TXT", "outside group");
    outside.Write("group/D/1.pg", Tiff(1));
    before = Tree(outside.root);
  }
  void ExpectOutsideUntouched() { EXPECT_EQ(before, Tree(outside.root)) << "something outside the storage changed"; }

  TempStorage storage, outside;  // storage links into `outside`, which no import may change
  std::map<std::string, std::string> before;
};

// Each kind of link a producer could plant, in one storage: none is followed, the
// storage's own documents still arrive, and the link entries themselves are what goes.
TEST_F(HostileStorage, LinksAreNeverFollowed) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1), NamedDocument("D2", 2), NamedDocument("D3", 1)})});
  const fs::path g1 = storage.root / "g1";
  if (!Link(outside / "docs", g1 / "Dlink")) GTEST_SKIP() << "this platform cannot make symbolic links here";
  Link(outside / "secret.txt", g1 / "D1" / "KVATTR");
  Link(outside / "secret.txt", g1 / "D1" / "COMMANDS");
  fs::remove(g1 / "D2" / "1.pg");
  Link(outside / "page.tif", g1 / "D2" / "1.pg");          // a named page: damaged, kept
  Link(outside / "page.tif", g1 / "D3" / "extra.pg");      // an extra page: taken as missing
  Link(outside / "order.txt", g1 / "Doc_Order.txt");
  fs::create_directory(g1 / "Doc_Order.txt.BAK");          // never taken for the order file's backup
  Link(outside / "group", storage.root / "glink");         // a group folder
  fs::create_directories(storage.root / "g2");
  Link(outside / "order.txt", storage.root / "g2" / "GR_LOCK.TXT");  // a lock file

  Scan scan;
  scan.All(storage);
  const auto accepted = scan.callback.AcceptedIds();
  const std::set<std::u16string> ids(accepted.begin(), accepted.end());
  EXPECT_TRUE((std::set<std::u16string>{u"D1/p1", u"D2/p2", u"D3/p1"}) == ids);
  for (const auto& page : scan.callback.pages) {
    EXPECT_FALSE(page.document.count(es::attrs::kDocKvAttrFile)) << "a linked KVATTR was read";
    EXPECT_FALSE(page.document.count(es::attrs::kDocCommandsFile)) << "a linked COMMANDS was read";
  }
  EXPECT_NE(std::u16string::npos, scan.Shown().find(u"1.PG")) << "the linked named page is damaged";
  EXPECT_TRUE(fs::exists(g1 / "D2")) << "a document with a linked named page stays";
  EXPECT_FALSE(fs::exists(g1 / "D1")) << "links inside a document go with it, as entries";
  EXPECT_FALSE(fs::exists(g1 / "D3"));
  EXPECT_TRUE(fs::is_symlink(storage.root / "glink"));
  EXPECT_TRUE(scan.Traced(u"symbolic link")) << "each link is traced";
  ExpectOutsideUntouched();

  // Named directly, a linked group is no group: it is not available.
  Scan direct;
  direct.Groups({es::FromUtf8((storage.root / "glink").string())}, {u"glink"});
  EXPECT_TRUE(direct.callback.pages.empty());
  ExpectOutsideUntouched();
}

// A document folder swapped for a link after the group was listed is not followed.
TEST_F(HostileStorage, FolderSwappedForALinkAfterTheListing) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)})});
  const fs::path g1 = storage.root / "g1";
  es::platform::FaultyPlatform faulty;
  bool swapped = false;
  // OpenFolder calls: the group, then D1.
  faulty.RunBefore({CallKind::OpenFolder}, 2, [&] {
    fs::rename(g1 / "D1", storage.root / "D1-away");
    swapped = Link(outside / "docs", g1 / "D1");
  });
  Scan scan;
  scan.Groups({es::FromUtf8(g1.string())}, {u"g1"}, &faulty);
  if (!swapped) GTEST_SKIP() << "this platform cannot make symbolic links here";
  EXPECT_TRUE(scan.callback.pages.empty()) << "the link's target was imported";
  EXPECT_TRUE(fs::is_symlink(g1 / "D1"));
  ExpectOutsideUntouched();
}

// An I/O error, as a flaky network share gives, at any one open, listing or stat of the
// import: no document goes before all its pages were accepted, and the next scan takes
// the rest.
TEST_F(HostileStorage, AnErrorIsNeverTakenForAbsence) {
  const std::set<std::u16string> all{u"D1/p1", u"D1/p2", u"D2/p1", u"D3/p1"};
  for (const CallKind kind : {CallKind::Open, CallKind::OpenFolder, CallKind::ListFolder, CallKind::Stat}) {
    for (int n = 1;; ++n) {
      SCOPED_TRACE(testing::Message() << "call kind " << static_cast<int>(kind) << ", call " << n);
      TempStorage local;
      local.Write({MakeGroup("g1", {NamedDocument("D1", 2), NamedDocument("D2", 1), NamedDocument("D3", 1)})});
      const fs::path g1 = local.root / "g1";
      AgeLock(g1);
      es::platform::FaultyPlatform faulty;
      faulty.FailAt(kind, n, 1, es::platform::Error::Io);
      Scan first;
      first.Groups({es::FromUtf8(g1.string())}, {u"g1"}, &faulty);
      if (faulty.Count(kind) < n) break;  // past the last such call
      const auto accepted = first.callback.AcceptedIds();
      std::set<std::u16string> ids(accepted.begin(), accepted.end());
      for (const auto& id : all)  // "D1/p1" is a page of document D1
        EXPECT_TRUE(ids.count(id) || fs::exists(g1 / es::ToUtf8(id.substr(0, 2)) / "SC_ATTR.BIN"))
            << es::ToUtf8(id) << ": its document was deleted before it was accepted";
      Scan second;
      second.All(local);
      for (const auto& id : second.callback.AcceptedIds()) ids.insert(id);
      EXPECT_TRUE(all == ids) << "a page was lost";
      EXPECT_FALSE(fs::exists(g1)) << "the next scan finishes the group";
    }
  }
}

// Finishing deletes what the import read: a page file that came after it keeps the
// folder; a group whose lock file was just written is not taken for an emptied one.
TEST_F(HostileStorage, LateFilesAreNeverDeletedUnread) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)})});
  const fs::path g1 = storage.root / "g1";
  es::platform::FaultyPlatform faulty;
  faulty.RunBefore({CallKind::Delete}, 1, [&] { storage.Write("g1/D1/2.pg", Tiff(1)); });
  Scan scan;
  scan.All(storage, &faulty);
  EXPECT_EQ(1u, scan.callback.pages.size());
  EXPECT_TRUE(fs::exists(g1 / "D1" / "2.pg")) << "a late page was deleted unread";
  EXPECT_TRUE(scan.Traced(u"appeared after"));

  // A producer that writes the lock file first and its documents a moment later.
  storage.Write("g2/GR_LOCK.TXT", "g2");
  Scan early;
  early.All(storage);
  EXPECT_TRUE(fs::exists(storage.root / "g2" / "GR_LOCK.TXT")) << "a group being filled was cleaned up";
  AgeLock(storage.root / "g2");
  Scan later;
  later.All(storage);
  EXPECT_FALSE(fs::exists(storage.root / "g2")) << "an emptied group is cleaned up once its lock file is old";
}

// An attribute file announcing 2^31-1 pages: the import walks a bounded number of them,
// the trace keeps a few lines of each kind, and the message counts the rest. A side file
// over its limit is not read, and its document is not imported without it.
TEST_F(HostileStorage, SmallFilesOfLargeCostAreBounded) {
  esproduce::DocumentPlan doc = NamedDocument("D1", 2);
  std::copy_n("\xFF\xFF\xFF\x7F", 4, doc.attributeFile->begin() + 8);  // the page count
  doc.attributeFile->resize(doc.attributeFile->size() + 4 * 1024 * 1024);  // room for many empty records
  esproduce::DocumentPlan large = NamedDocument("D2", 1);
  large.files.push_back({"KVATTR", esproduce::Bytes(16 * 1024 * 1024 + 1, 'k')});
  storage.Write({MakeGroup("g1", {doc, large})});
  Scan scan;
  scan.All(storage);
  EXPECT_EQ(2u, scan.callback.pages.size()) << "D2 is not imported without its KVATTR";
  EXPECT_NE(std::u16string::npos, scan.Shown().find(u"document D2 from group \"g1\" are damaged:\nKVATTR"))
      << es::ToUtf8(scan.Shown());
  EXPECT_TRUE(fs::exists(storage.root / "g1" / "D2" / "KVATTR"));
  EXPECT_LT(scan.traces.Lines().size(), 200u) << "the trace grows with the announced count";
  EXPECT_NE(std::u16string::npos, scan.Shown().find(u"more")) << es::ToUtf8(scan.Shown());
  EXPECT_LT(scan.Shown().size(), 4000u);
  EXPECT_TRUE(fs::exists(storage.root / "g1" / "D1")) << "a document with missing pages stays";
}

}  // namespace
