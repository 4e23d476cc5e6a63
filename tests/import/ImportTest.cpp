// Importing documents and groups: what reaches the host, in which order, with which
// attributes, and what is left in the storage afterwards.
#include <set>

#include <gtest/gtest.h>

#include "ResourceIds.h"
#include "platform/Platform.h"
#include "storage/Cleanup.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/PageImages.h"
#include "tests/frame/ModuleAttachEnvironment.h"
#include "tests/import/ImportFixture.h"

namespace {

using namespace estest;
using es::attrs::kPageAllowRescan;
using es::attrs::kPageFirstOfDocument;
using Ids = std::vector<std::u16string>;

// One storage and an import of its groups by name, both deletion switches on.
struct StorageImport : Importer {
  void Import(const std::string& group, const std::u16string& name = u"G") { Groups({storage.Group(group)}, {name}); }
  TempStorage storage;
};
class DocumentImport : public ::testing::Test, protected StorageImport {};
class GroupImport : public ::testing::Test, protected StorageImport {};
class Cleanup : public ::testing::Test, protected StorageImport {};

// The pages the host was given, one a line: id, first-of-document and may-rescan numbers,
// whether the document's attributes rode with it, and the size of any content.
std::string Pages(const RecordingCallback& callback) {
  std::string out;
  for (const auto& p : callback.pages)
    out += es::ToUtf8(p.Id()) + " " + std::to_string(p.Number(kPageFirstOfDocument)) + " " +
           std::to_string(p.Number(kPageAllowRescan)) + (p.hasDocument ? " doc" : "") +
           (p.call == "AddPageWithContent" ? " content " + std::to_string(p.contentSize) : "") + "\n";
  return out;
}

const std::u16string kLessPages = u"There are less pages  in the next scanned document than specified in the attributes file.\n";

// The names in a folder of the storage, sorted; "-" when the folder is gone.
std::string Entries(const TempStorage& storage, const std::string& folder) {
  if (!storage.Exists(folder)) return "-";
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(storage / folder)) names.insert(entry.path().filename().string());
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : " ") + name;
  return out;
}

// The order file decides, the document rides with its first page only, and the two
// deletion switches decide what goes: with images kept nothing changes.
TEST_F(DocumentImport, PagesArriveInOrderWithTheirAttributesAndTheSwitchesDecideWhatGoes) {
  const struct {
    bool images, groupFolder;
    const char* left;  // the group folder's entries afterwards; nullptr: unchanged
  } rows[] = {{true, true, "-"}, {false, true, nullptr}, {true, false, "GR_LOCK.TXT"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "images " << row.images << ", group folder " << row.groupFolder);
    StorageImport run;
    run.storage.Write({MakeGroup("g1", {NamedDocument("D1", 2), NamedDocument("D2", 1)}, std::vector<std::string>{"D2", "D1"})});
    const auto before = Tree(run.storage / "g1");
    run.holder.element->AllowRescanning = 0;
    run.Deletion(row.images, row.groupFolder);
    run.Import("g1");
    ASSERT_EQ("D2/p1 1 0 doc\nD1/p1 1 0 doc\nD1/p2 0 0\n", Pages(run.callback));
    EXPECT_EQ(1, run.callback.pages[2].Number(es::attrs::kPageAlwaysOne));
    EXPECT_EQ(100, run.callback.pages[0].Number(es::attrs::kPageResolutionX)) << "from the image";
    if (row.left == nullptr) {
      EXPECT_EQ(before, Tree(run.storage / "g1"));
    } else {
      EXPECT_EQ(row.left, Entries(run.storage, "g1"));
    }
  }
}

// A damaged document is reported under its own name, also one that hands nothing, and
// stays; only with deletion on does the message say it will not be deleted.
TEST_F(DocumentImport, DamagedDocumentsAreReportedUnderTheirOwnNamesAndStay) {
  for (const bool deletion : {true, false}) {
    SCOPED_TRACE(deletion ? "deletion on" : "deletion off");
    StorageImport run;
    auto d1 = NamedDocument("D1", 3);
    d1.files.erase(d1.files.begin() + 1);  // no 2.pg
    // D2 announces a page whose file is missing: it hands nothing.
    run.storage.Write({Group("g1", {d1, DocumentWith("D2", {}, AttrV2({u"D2/p1"}))})});
    const auto before = Tree(run.storage / "g1");
    run.Deletion(deletion, false);
    run.Import("g1", u"");
    EXPECT_EQ((Ids{u"D1/p1", u"D1/p3"}), run.callback.AcceptedIds());
    for (const int id : {IDS_TIFF_MISSING, IDS_IMAGE_UNREADABLE, IDS_LESS_PAGES_DETAIL})
      EXPECT_EQ(2u, run.traces.WithId(id).size()) << id << ": once for each document";
    const std::u16string stays = deletion ? u"Document will not be deleted.\n" : u"";
    EXPECT_EQ(kLessPages + kLessPages + u"The following pages from document D2 from group \"\" are damaged:\n1.PG\n" + stays +
                  u"The following pages from document D1 from group \"\" are damaged:\n2.PG\n" + stays,
              run.Shown());
    EXPECT_EQ(16u, run.boxes.boxes.at(0).style);
    EXPECT_EQ(before, Tree(run.storage / "g1"));
  }
}

// Images beyond the announced pages come as extra pages, after the named ones, with
// attributes of their own.
TEST_F(DocumentImport, ExtraPagesAfterTheNamedOnesAndMultiPageFirstFiles) {
  auto d = NamedDocument("D", 3);
  d.files.push_back({"4.pg", Tiff(1, 4)});
  storage.Write({Group("g1", {DocumentWith("A", {{"1.pg", Tiff(5)}}, AttrV2({u"A/p1", u"A/p2", u"A/p3"})),
                             DocumentWith("B", {{"1.pg", Tiff(5)}}),
                             // two images are already a multi-page file
                             DocumentWith("C", {{"1.pg", Tiff(2)}}, AttrV2({u"C/p1", u"C/p2"})), d})});
  Import("g1");
  // B's first extra image opens its document.
  const std::string extra = "External Storage image file 0 1\n";
  EXPECT_EQ("A/p1 1 1 doc\nA/p2 0 1\nA/p3 0 1\nExternal Storage image file 1 1 doc\n" + extra + extra + extra + extra +
                "C/p1 1 1 doc\nC/p2 0 1\nD/p1 1 1 doc\nD/p2 0 1\nD/p3 0 1\n" + extra,
            Pages(callback));
  EXPECT_EQ(248u, callback.pages.back().page.at(es::attrs::kPageScanStamp).bytes.size());
  EXPECT_EQ("A Doc_Order.txt GR_LOCK.TXT", Entries(storage, "g1")) << "A stays, B, C and D go";
  EXPECT_TRUE(storage.Exists("g1/A/1.pg"));
  // Images 3 and 4 of A's "1.pg" never reached the host: A stays, and says so.
  const std::u16string more = u"There are more pages  in the next scanned document than specified in the attributes file.\n";
  EXPECT_EQ(more + u"The following pages from document A from group \"G\" are damaged:\n1.pg(3), 1.pg(4)\nDocument will not be deleted.\n" + more,
            Shown());
}

// A page that reached the host is never listed as damaged, so a document is not kept (and
// sent again at every scan) for it; an image that never reached the host always is.
TEST_F(DocumentImport, DamagedListsExactlyWhatNeverReachedTheHost) {
  // Three pages announced, two page records: the third page's attributes cannot be read.
  auto announceThree = [](esproduce::Bytes attrs) {
    attrs[8] = 3;
    return attrs;
  };
  esproduce::DocumentPlan files = NamedDocument("Files", 3);  // its 3.pg arrives as an extra page
  files.attributeFile = announceThree(AttrV2({u"Files/p1", u"Files/p2"}));
  esproduce::DocumentPlan further = NamedDocument("Further", 2);  // 2.pg holds two images
  further.files[1].content = Tiff(2);
  auto corrupt = Tiff(1);
  std::string error;
  ASSERT_TRUE(esproduce::DamageTiff(&corrupt, esproduce::Damage::BadMagic, 0, &error)) << error;
  const struct {
    esproduce::DocumentPlan doc;
    std::size_t pages;
    const char16_t* damaged;  // nullptr: no message, the document goes
  } rows[] = {
      {files, 3, nullptr},
      // image 2 of "1.pg" has no page to arrive as
      {DocumentWith("Multi", {{"1.pg", Tiff(3)}}, announceThree(AttrV2({u"Multi/p1", u"Multi/p2"}))), 2, u"1.pg(2)"},
      {further, 2, u"2.PG(1)"},
      // a page file beside a PDF is never imported
      {DocumentWith("Pdf", {{"1.pg", PdfBytes()}, {"2.pg", Tiff(1)}}), 1, u"2.PG"},
      {DocumentWith("Corrupt", {{"a.pg", Tiff(1)}, {"b.pg", corrupt}}), 1, u"B.PG"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.doc.folderName);
    StorageImport run;
    run.storage.Write({MakeGroup("g1", {row.doc})});
    const auto before = Tree(run.storage / "g1" / row.doc.folderName);
    run.callback.unattended = true;
    run.Import("g1");
    EXPECT_EQ(row.pages, run.callback.pages.size());
    if (row.damaged == nullptr) {
      EXPECT_EQ(u"", run.Shown());
      EXPECT_FALSE(run.storage.Exists("g1/" + row.doc.folderName));
    } else {
      EXPECT_EQ(u"The following pages from document " + es::FromUtf8(row.doc.folderName) + u" from group \"G\" are damaged:\n" +
                    row.damaged + u"\nDocument will not be deleted.\n",
                run.Shown());
      EXPECT_EQ(before, Tree(run.storage / "g1" / row.doc.folderName)) << "deleted unseen";
    }
  }
}

TEST_F(DocumentImport, EmptyDocumentHandsNothingAndDoesNotTakeItsPredecessorsPlace) {
  storage.Write({Group("g1", {NamedDocument("D1", 1), DocumentWith("D2", {}), NamedDocument("D3", 1)})});
  Deletion(true, false);
  callback.cancelAt = 2;  // stop with D3's first page: D1 must have been finished by then
  Import("g1");
  EXPECT_EQ((Ids{u"D1/p1", u"D3/p1"}), callback.AcceptedIds());
  // D3's first page came with the stop: D1 stays pending; D2 had nothing to import.
  EXPECT_EQ("D1 D3 Doc_Order.txt GR_LOCK.TXT", Entries(storage, "g1"));
  EXPECT_EQ("D1\r\nD3\r\n", storage.Read("g1/Doc_Order.txt"));

  callback = RecordingCallback();
  Import("g1");
  EXPECT_EQ((Ids{u"D1/p1", u"D3/p1"}), callback.AcceptedIds());
  EXPECT_EQ("GR_LOCK.TXT", Entries(storage, "g1"));
}

// A PDF is one page, never rescanned, with its bytes as content. An unreadable one (Q)
// comes as the installation's replacement image, which another host on the machine
// reading it at the same moment must not make fail.
TEST_F(DocumentImport, PdfDocumentIsOnePageWithItsBytesAsContent) {
  const std::string broken = "%PDF-1.4\nnot a page\n";
  storage.Write({Group("g1", {DocumentWith("P", {{"1.pg", PdfBytes()}, {"2.pg", Tiff(1)}}, AttrV2({u"P/p1", u"P/p2", u"P/p3"})),
                              DocumentWith("Q", {{"1.pg", esproduce::Bytes(broken.begin(), broken.end())}})})});
  const es::File other(es::GetReplacementImagePath(), es::platform::Access::Read, es::platform::Share::Read);
  ASSERT_TRUE(other.IsOpen());
  holder.element->AllowRescanning = 1;
  Import("g1");
  EXPECT_EQ("P/p1 1 0 doc content " + std::to_string(PdfBytes().size()) + "\n 1 0 doc content 20\n",
            Pages(callback));
  EXPECT_EQ("Doc_Order.txt GR_LOCK.TXT P", Entries(storage, "g1")) << "Q goes";
  int unsupported = 0;
  for (const auto& l : traces.Lines())
    if (l.text.find(u"PDF Document includes unsupported additional pages.") != std::u16string::npos) ++unsupported;
  EXPECT_EQ(2, unsupported) << "one for the second page file, one for the 3 announced pages";
  // 3 pages announced, 1 page file counted; 2.pg never reached the host.
  EXPECT_EQ(kLessPages + u"The following pages from document P from group \"G\" are damaged:\n2.PG\nDocument will not be deleted.\n",
            Shown());
}

// A stop keeps the document it came in and all later ones; a refused first page also
// keeps the document before it, which was still pending.
TEST_F(GroupImport, StopKeepsThePendingDocumentAndLaterOnes) {
  const struct {
    int cancelAt, refuseAt;
    std::size_t pages;
    const char* left;
  } rows[] = {
      {6, 0, 6, "D3 D4 D5 Doc_Order.txt GR_LOCK.TXT"},        // on the second page of D3
      {5, 0, 5, "D2 D3 D4 D5 Doc_Order.txt GR_LOCK.TXT"},     // on the first page of D3
      {0, 3, 3, "D1 D2 D3 D4 D5 Doc_Order.txt GR_LOCK.TXT"},  // D2's first page refused
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "cancel at " << row.cancelAt << ", refuse at " << row.refuseAt);
    StorageImport run;
    run.storage.Write({Group("g1", Docs("D", 5, 2))});
    run.callback.cancelAt = row.cancelAt;
    run.callback.refuseAt = row.refuseAt;
    run.Import("g1");
    EXPECT_EQ(row.pages, run.callback.pages.size());
    EXPECT_EQ(row.left, Entries(run.storage, "g1"));
  }
}

TEST_F(GroupImport, HeldLockMakesTheGroupUnavailableAndStopsTheSelection) {
  for (bool unattended : {false, true}) {
    StorageImport run;
    run.storage.Write({MakeGroup("g1", {NamedDocument("A", 1)}), MakeGroup("g2", {NamedDocument("B", 1)}),
                       MakeGroup("g3", {NamedDocument("C", 1)})});
    es::File held(es::FromUtf8((run.storage / "g2" / "GR_LOCK.TXT").string()), es::platform::Access::Read,
                  es::platform::Share::Read);
    ASSERT_TRUE(held.IsOpen());
    run.callback.unattended = unattended;
    run.Groups({run.storage.Group("g1"), run.storage.Group("g2"), run.storage.Group("g3")}, {u"g1", u"g2", u"g3"});
    EXPECT_EQ((Ids{u"A/p1"}), run.callback.AcceptedIds());
    EXPECT_EQ(unattended ? 0u : 1u, run.boxes.boxes.size());
    const auto traced = run.traces.WithId(IDS_GROUP_NOT_AVAILABLE);
    EXPECT_EQ(unattended ? 1u : 0u, traced.size());
    for (const auto& line : traced) EXPECT_EQ(2, line.severity) << "traced as skipped";
    EXPECT_TRUE(run.storage.Exists("g3/C/1.pg")) << "the third group is not touched";
  }
}

TEST_F(Cleanup, ReadOnlyPageFileSurvivesKeepsFolderAndGroupAndIsNeverImportedAgain) {
  auto doc = NamedDocument("D1", 1);
  doc.files[0].readOnly = true;
  storage.Write({MakeGroup("g1", {doc})});
  Import("g1");
  EXPECT_EQ(1u, traces.WithId(IDS_CANNOT_DELETE_FILE).size());
  EXPECT_EQ(1u, traces.WithId(IDS_CANNOT_DELETE_DIRECTORY).size());
  EXPECT_EQ("D1 GR_LOCK.TXT", Entries(storage, "g1"));
  EXPECT_EQ("1.pg ES_DELIVERED", Entries(storage, "g1/D1"));
  callback.pages.clear();
  Import("g1");
  EXPECT_EQ(0u, callback.pages.size()) << "the page that would not go was delivered already";
}

// A group file that would not go keeps the lock file, or the next scan would not see a group.
TEST_F(Cleanup, ReadOnlyGroupFileKeepsTheLockFile) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)})});
  storage.Write("g1/notes.txt", "x");
  fs::permissions(storage / "g1/notes.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  Import("g1");
  EXPECT_EQ(1u, traces.WithId(IDS_CANNOT_DELETE_FILE).size());
  EXPECT_EQ("GR_LOCK.TXT notes.txt", Entries(storage, "g1"));
}

TEST_F(Cleanup, ADocumentMarkedDeliveredIsOnlyDeletedAndItsGroupGoesAtOnce) {
  auto doc = NamedDocument("D1", 2);
  doc.files.push_back({"ES_DELIVERED", {}});
  storage.Write({MakeGroup("g1", {doc}, std::vector<std::string>{"D1"})});
  Import("g1");
  EXPECT_EQ(0u, callback.pages.size());
  EXPECT_FALSE(storage.Exists("g1")) << "the lock file is new, but the group was delivered from";
}

// Taking a document's line out of the order file matches the whole name.
TEST_F(Cleanup, OrderLineOfD1LeavesD10Alone) {
  storage.Write({MakeGroup("g", {}, std::vector<std::string>{"D1", "D10", "D2", std::string(70, 'x')})});
  const std::u16string order = es::FromUtf8((storage.root / "g" / "Doc_Order.txt").string());
  const es::Folder group = es::Folder::Open(storage.Group("g"));
  holder.element->groupFolder = &group;
  ASSERT_TRUE(es::RemoveOrderEntry(*holder.element, order, u"D1"));
  EXPECT_EQ("D10\r\nD2\r\n" + std::string(70, 'x') + "\r\n", storage.Read("g/Doc_Order.txt"));
  ASSERT_TRUE(es::RemoveOrderEntry(*holder.element, order, es::FromUtf8(std::string(70, 'x'))));
  EXPECT_EQ("D10\r\nD2\r\n", storage.Read("g/Doc_Order.txt")) << "long names compare whole";
  EXPECT_FALSE(storage.Exists("g/Doc_Order.txt.BAK"));
  holder.element->groupFolder = nullptr;
}

// What a crash in the middle of an order-file rewrite leaves: the backup and a cut new
// file. With deletion on the backup is taken back; with it off nothing is written.
TEST_F(Cleanup, InterruptedRewriteIsTakenBackOnlyWhenDeletionIsOn) {
  for (const bool deleteImages : {true, false}) {
    SCOPED_TRACE(deleteImages ? "deletion on" : "deletion off");
    StorageImport run;
    run.storage.Write({MakeGroup("g1", {NamedDocument("A", 1), NamedDocument("B", 1)}, std::vector<std::string>{"B", "A"})});
    std::filesystem::rename(run.storage / "g1/Doc_Order.txt", run.storage / "g1/Doc_Order.txt.BAK");
    run.storage.Write("g1/Doc_Order.txt", "A");
    run.Deletion(deleteImages, false);
    run.Import("g1");
    if (deleteImages) {
      EXPECT_EQ((Ids{u"B/p1", u"A/p1"}), run.callback.AcceptedIds()) << "in the backup's order";
      EXPECT_FALSE(run.storage.Exists("g1/Doc_Order.txt.BAK"));
    } else {
      EXPECT_EQ("A", run.storage.Read("g1/Doc_Order.txt")) << "written with deletion off";
      EXPECT_EQ("B\r\nA\r\n", run.storage.Read("g1/Doc_Order.txt.BAK"));
    }
  }
}

}  // namespace
