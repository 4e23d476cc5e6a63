// Importing documents and groups: what reaches the host, in which order, with which
// attributes, and what is left in the storage afterwards.
#include <gtest/gtest.h>

#include "ResourceIds.h"
#include "platform/Platform.h"
#include "storage/Cleanup.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/PageImages.h"
#include "tests/frame/ModuleAttachEnvironment.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/Capture.h"

namespace {

using namespace estest;
using es::attrs::kPageAllowRescan;
using es::attrs::kPageFirstOfDocument;

// One storage, an element with both deletion switches on, a host that records what it
// is given, and the traces and messages of the import.
struct Importer {
  void Import(const std::string& group, const std::u16string& name = u"G") {
    ImportInto(holder, callback, {storage.Group(group)}, {name});
  }
  void Deletion(bool images, bool groupFolder) {
    holder.element->DeleteFaxes = images ? 1 : 0;
    holder.element->DeleteGroupFolder = groupFolder ? 1 : 0;
  }
  std::u16string Shown() const {
    std::u16string all;
    for (const auto& b : boxes.boxes) all += b.text;
    return all;
  }
  TempStorage storage;
  ElementHolder holder;
  RecordingCallback callback;
  TraceCapture traces;
  MessageCapture boxes;
};
class DocumentImport : public ::testing::Test, protected Importer {};
class GroupImport : public ::testing::Test, protected Importer {};
class Cleanup : public ::testing::Test, protected Importer {};

using Ids = std::vector<std::u16string>;

TEST_F(DocumentImport, PagesArriveInOrderWithTheirAttributesAndTheGroupIsDeleted) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 2), NamedDocument("D2", 1)}, std::vector<std::string>{"D2", "D1"})});
  holder.element->AllowRescanning = 0;
  Import("g1");
  ASSERT_EQ(3u, callback.pages.size());
  EXPECT_EQ((Ids{u"D2/p1", u"D1/p1", u"D1/p2"}), callback.AcceptedIds()) << "order file decides";
  EXPECT_TRUE(callback.pages[0].hasDocument);
  EXPECT_TRUE(callback.pages[1].hasDocument);
  EXPECT_FALSE(callback.pages[2].hasDocument) << "the document rides with its first page only";
  EXPECT_EQ(1, callback.pages[1].Number(kPageFirstOfDocument));
  EXPECT_EQ(0, callback.pages[2].Number(kPageFirstOfDocument));
  EXPECT_EQ(0, callback.pages[2].Number(kPageAllowRescan));
  EXPECT_EQ(1, callback.pages[2].Number(es::attrs::kPageAlwaysOne));
  EXPECT_EQ(100, callback.pages[0].Number(es::attrs::kPageResolutionX)) << "from the image";
  EXPECT_FALSE(storage.Exists("g1")) << "both deletion settings on: the whole group goes";
}

TEST_F(DocumentImport, DeletionSettingsOffChangeNothing) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)}, std::vector<std::string>{"D1"})});
  Deletion(false, true);
  Import("g1");
  EXPECT_EQ(1u, callback.pages.size());
  EXPECT_TRUE(storage.Exists("g1/D1/1.pg"));
  EXPECT_EQ("D1\r\n", storage.Read("g1/Doc_Order.txt"));
}

TEST_F(DocumentImport, DeleteImagesWithoutGroupFolderKeepsLockAndFolder) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)}, std::vector<std::string>{"D1"})});
  Deletion(true, false);
  Import("g1");
  EXPECT_FALSE(storage.Exists("g1/D1"));
  EXPECT_FALSE(storage.Exists("g1/Doc_Order.txt"));
  EXPECT_TRUE(storage.Exists("g1/GR_LOCK.TXT"));
}

TEST_F(DocumentImport, MissingNamedPageIsReportedAndKeepsTheDocument) {
  auto doc = NamedDocument("D1", 3);
  doc.files.erase(doc.files.begin() + 1);  // no 2.pg
  storage.Write({MakeGroup("g1", {doc}, std::vector<std::string>{"D1"})});
  Import("g1", u"");
  EXPECT_EQ((Ids{u"D1/p1", u"D1/p3"}), callback.AcceptedIds());
  EXPECT_EQ(1u, traces.WithId(IDS_TIFF_MISSING).size());
  EXPECT_EQ(1u, traces.WithId(IDS_IMAGE_UNREADABLE).size());
  EXPECT_EQ(1u, traces.WithId(IDS_LESS_PAGES_DETAIL).size());
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(IDS_LESS_PAGES, boxes.boxes[0].id);
  EXPECT_EQ(16u, boxes.boxes[0].style);
  EXPECT_EQ(std::u16string(u"The following pages from document D1 from group \"\" are damaged:\n2.PG\n"
                           u"Document will not be deleted."),
            boxes.boxes[1].text);
  EXPECT_TRUE(storage.Exists("g1/D1/1.pg")) << "a damaged document stays";
  EXPECT_EQ("D1\r\n", storage.Read("g1/Doc_Order.txt"));
}

TEST_F(DocumentImport, ExtraPageFileAfterTheNamedPagesWithExtraAttributes) {
  auto doc = NamedDocument("D1", 3);
  doc.files.push_back({"4.pg", Tiff(1, 4)});
  storage.Write({MakeGroup("g1", {doc})});
  callback.unattended = true;
  Import("g1");
  ASSERT_EQ(4u, callback.pages.size());
  EXPECT_TRUE(boxes.boxes.empty()) << "unattended: traced instead";
  EXPECT_EQ(1u, traces.WithId(IDS_MORE_PAGES).size());
  EXPECT_EQ(2, traces.WithId(IDS_MORE_PAGES)[0].severity);
  EXPECT_EQ(std::u16string(u"External Storage image file"), callback.pages[3].Id());
  EXPECT_EQ(0, callback.pages[3].Number(kPageFirstOfDocument));
  EXPECT_EQ(248u, callback.pages[3].page.at(es::attrs::kPageScanStamp).bytes.size());
}

TEST_F(DocumentImport, MultiPageFirstFileWithAndWithoutAttributeFile) {
  storage.Write({MakeGroup("g1",
                           {DocumentWith("A", {{"1.pg", Tiff(5)}}, AttrV2({u"A/p1", u"A/p2", u"A/p3"})),
                            DocumentWith("B", {{"1.pg", Tiff(5)}}),
                            // two images are already a multi-page file
                            DocumentWith("C", {{"1.pg", Tiff(2)}}, AttrV2({u"C/p1", u"C/p2"}))},
                           std::vector<std::string>{"A", "B", "C"})});
  Import("g1");
  ASSERT_EQ(10u, callback.pages.size());
  const auto ids = callback.AcceptedIds();
  EXPECT_EQ((Ids{u"A/p1", u"A/p2", u"A/p3"}), std::vector<std::u16string>(ids.begin(), ids.begin() + 3));
  EXPECT_EQ((Ids{u"C/p1", u"C/p2"}), std::vector<std::u16string>(ids.end() - 2, ids.end()));
  EXPECT_FALSE(storage.Exists("g1/C"));
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(IDS_MORE_PAGES, boxes.boxes[0].id) << "5 images for 3 pages";
  // Images 3 and 4 of A's "1.pg" never reached the host: A stays, and says so.
  EXPECT_NE(std::u16string::npos, boxes.boxes[1].text.find(u"document A from group \"G\" are damaged:\n1.pg(3), 1.pg(4)"))
      << es::ToUtf8(boxes.boxes[1].text);
  EXPECT_TRUE(storage.Exists("g1/A/1.pg"));
  EXPECT_FALSE(storage.Exists("g1/B"));
  EXPECT_EQ(1, callback.pages[3].Number(kPageFirstOfDocument)) << "B's first extra image";
  for (int i = 4; i < 8; ++i) EXPECT_EQ(0, callback.pages[i].Number(kPageFirstOfDocument));
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
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.doc.folderName);
    Importer run;
    run.storage.Write({MakeGroup("g1", {row.doc})});
    run.callback.unattended = true;
    run.Import("g1");
    EXPECT_EQ(row.pages, run.callback.pages.size());
    const std::u16string shown = run.Shown();
    if (row.damaged == nullptr) {
      EXPECT_EQ(u"", shown);
      EXPECT_FALSE(run.storage.Exists("g1/" + row.doc.folderName));
    } else {
      EXPECT_NE(std::u16string::npos, shown.find(std::u16string(u"are damaged:\n") + row.damaged)) << es::ToUtf8(shown);
      EXPECT_TRUE(run.storage.Exists("g1/" + row.doc.folderName + "/1.pg")) << "deleted unseen";
    }
  }
}

TEST_F(DocumentImport, EmptyDocumentHandsNothingAndDoesNotTakeItsPredecessorsPlace) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1), DocumentWith("D2", {}), NamedDocument("D3", 1)},
                        std::vector<std::string>{"D1", "D2", "D3"})});
  Deletion(true, false);
  callback.cancelAt = 2;  // stop with D3's first page: D1 must have been finished by then
  Import("g1");
  EXPECT_EQ((Ids{u"D1/p1", u"D3/p1"}), callback.AcceptedIds());
  EXPECT_TRUE(storage.Exists("g1/D1")) << "D3's first page came with the stop: D1 stays pending";
  EXPECT_FALSE(storage.Exists("g1/D2")) << "nothing to import in it";
  EXPECT_EQ("D1\r\nD3\r\n", storage.Read("g1/Doc_Order.txt"));

  callback = RecordingCallback();
  Import("g1");
  EXPECT_EQ((Ids{u"D1/p1", u"D3/p1"}), callback.AcceptedIds());
  EXPECT_FALSE(storage.Exists("g1/D1"));
  EXPECT_FALSE(storage.Exists("g1/D3"));
  EXPECT_TRUE(storage.Exists("g1/GR_LOCK.TXT"));
}

TEST_F(DocumentImport, PdfDocumentIsOnePageWithItsBytesAsContent) {
  storage.Write({MakeGroup(
      "g1", {DocumentWith("P", {{"1.pg", PdfBytes()}, {"2.pg", Tiff(1)}}, AttrV2({u"P/p1", u"P/p2", u"P/p3"}))})});
  holder.element->AllowRescanning = 1;
  Import("g1");
  ASSERT_EQ(1u, callback.pages.size());
  EXPECT_EQ("AddPageWithContent", callback.pages[0].call);
  EXPECT_EQ(PdfBytes().size(), callback.pages[0].contentSize);
  EXPECT_EQ(0, callback.pages[0].Number(kPageAllowRescan)) << "never rescanned";
  EXPECT_EQ(1, callback.pages[0].Number(kPageFirstOfDocument));
  EXPECT_TRUE(callback.pages[0].hasDocument);
  int unsupported = 0;
  for (const auto& l : traces.Lines())
    if (l.text.find(u"PDF Document includes unsupported additional pages.") != std::u16string::npos) ++unsupported;
  EXPECT_EQ(2, unsupported) << "one for the second page file, one for the 3 announced pages";
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_EQ(IDS_LESS_PAGES, boxes.boxes[0].id) << "3 announced, 1 page file counted";
  EXPECT_NE(std::u16string::npos, boxes.boxes[1].text.find(u"are damaged:\n2.PG")) << "2.pg never reached the host";
}

// The replacement image of an unreadable PDF page belongs to the installation: another
// host on the machine reading it at the same moment must not make the page fail.
TEST_F(DocumentImport, ReplacementImageIsReadWhileAnotherReaderHoldsIt) {
  const std::string broken = "%PDF-1.4\nnot a page\n";
  storage.Write({MakeGroup("g1", {DocumentWith("P", {{"1.pg", esproduce::Bytes(broken.begin(), broken.end())}})})});
  const es::File other(es::GetReplacementImagePath(), es::platform::Access::Read, es::platform::Share::Read);
  ASSERT_TRUE(other.IsOpen());
  Import("g1");
  ASSERT_EQ(1u, callback.pages.size());
  EXPECT_EQ("AddPageWithContent", callback.pages[0].call);
  EXPECT_FALSE(storage.Exists("g1/P"));
}

TEST_F(DocumentImport, HostRefusingFirstPageStopsWithoutFinishingThePrevious) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1), NamedDocument("D2", 1), NamedDocument("D3", 1)},
                        std::vector<std::string>{"D1", "D2", "D3"})});
  callback.refuseAt = 2;
  Import("g1");
  EXPECT_EQ(2u, callback.pages.size()) << "the group stops at the refusal";
  EXPECT_TRUE(storage.Exists("g1/D1")) << "D1 was still pending";
  EXPECT_TRUE(storage.Exists("g1/D2"));
  EXPECT_TRUE(storage.Exists("g1/D3"));
}

TEST_F(GroupImport, StopOnSecondPageOfThirdDocumentKeepsItAndLaterOnes) {
  for (int stopAt : {6, 5}) {  // second page of D3, first page of D3
    Importer run;
    run.storage.Write({MakeGroup("g1",
                                 {NamedDocument("D1", 2), NamedDocument("D2", 2), NamedDocument("D3", 2),
                                  NamedDocument("D4", 2), NamedDocument("D5", 2)},
                                 std::vector<std::string>{"D1", "D2", "D3", "D4", "D5"})});
    run.callback.cancelAt = stopAt;
    run.Import("g1");
    EXPECT_EQ(static_cast<std::size_t>(stopAt), run.callback.pages.size());
    EXPECT_FALSE(run.storage.Exists("g1/D1"));
    EXPECT_EQ(stopAt == 6, !run.storage.Exists("g1/D2")) << "stop at " << stopAt;
    for (const char* kept : {"g1/D3", "g1/D4", "g1/D5", "g1/Doc_Order.txt"}) EXPECT_TRUE(run.storage.Exists(kept)) << kept;
  }
}

TEST_F(GroupImport, HeldLockMakesTheGroupUnavailableAndStopsTheSelection) {
  for (bool unattended : {false, true}) {
    Importer run;
    run.storage.Write({MakeGroup("g1", {NamedDocument("A", 1)}), MakeGroup("g2", {NamedDocument("B", 1)}),
                       MakeGroup("g3", {NamedDocument("C", 1)})});
    es::File held(es::FromUtf8((run.storage / "g2" / "GR_LOCK.TXT").string()), es::platform::Access::Read,
                  es::platform::Share::Read);
    ASSERT_TRUE(held.IsOpen());
    run.callback.unattended = unattended;
    ImportInto(run.holder, run.callback, {run.storage.Group("g1"), run.storage.Group("g2"), run.storage.Group("g3")},
               {u"g1", u"g2", u"g3"});
    EXPECT_EQ((Ids{u"A/p1"}), run.callback.AcceptedIds());
    EXPECT_EQ(unattended ? 0u : 1u, run.boxes.boxes.size());
    EXPECT_EQ(unattended ? 1u : 0u, run.traces.WithId(IDS_GROUP_NOT_AVAILABLE).size());
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
  EXPECT_TRUE(storage.Exists("g1/D1/1.pg"));
  EXPECT_TRUE(storage.Exists("g1/GR_LOCK.TXT"));
  EXPECT_TRUE(storage.Exists("g1/D1/ES_DELIVERED"));
  callback.pages.clear();
  Import("g1");
  EXPECT_EQ(0u, callback.pages.size()) << "the page that would not go was delivered already";
}

TEST_F(Cleanup, ADocumentMarkedDeliveredIsOnlyDeletedAndItsGroupGoesAtOnce) {
  auto doc = NamedDocument("D1", 2);
  doc.files.push_back({"ES_DELIVERED", {}});
  storage.Write({MakeGroup("g1", {doc}, std::vector<std::string>{"D1"})});
  Import("g1");
  EXPECT_EQ(0u, callback.pages.size());
  EXPECT_FALSE(storage.Exists("g1")) << "the lock file is new, but the group was delivered from";
}

TEST_F(Cleanup, OrderLineOfD1LeavesD10Alone) {
  storage.Write({MakeGroup("g1", {NamedDocument("D1", 1)}, std::vector<std::string>{"D1", "D10", "D2"})});
  Import("g1");
  EXPECT_FALSE(storage.Exists("g1/D1"));
  // D10 and D2 name no folder; the order file goes at the group end, so look at the
  // rewrite through the element directly.
  TempStorage second;
  second.Write({MakeGroup("g", {}, std::vector<std::string>{"D1", "D10", "D2", std::string(70, 'x')})});
  holder.element->DeleteFaxes = 1;
  const std::u16string order = es::FromUtf8((second.root / "g" / "Doc_Order.txt").string());
  const es::Folder group = es::Folder::Open(second.Group("g"));
  holder.element->groupFolder = &group;
  ASSERT_TRUE(es::RemoveOrderEntry(*holder.element, order, u"D1"));
  EXPECT_EQ("D10\r\nD2\r\n" + std::string(70, 'x') + "\r\n", second.Read("g/Doc_Order.txt"));
  ASSERT_TRUE(es::RemoveOrderEntry(*holder.element, order, es::FromUtf8(std::string(70, 'x'))));
  EXPECT_EQ("D10\r\nD2\r\n", second.Read("g/Doc_Order.txt")) << "long names compare whole";
  EXPECT_FALSE(second.Exists("g/Doc_Order.txt.BAK"));
  holder.element->groupFolder = nullptr;
}

// What a crash in the middle of an order-file rewrite leaves: the backup and a cut new
// file. With deletion on the backup is taken back; with it off nothing is written.
TEST_F(Cleanup, InterruptedRewriteIsTakenBackOnlyWhenDeletionIsOn) {
  for (const bool deleteImages : {true, false}) {
    SCOPED_TRACE(deleteImages ? "deletion on" : "deletion off");
    Importer run;
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

TEST_F(Cleanup, DamagedDocumentsAreEachReportedUnderTheirOwnName) {
  auto first = NamedDocument("D1", 2);
  first.files.pop_back();  // 2.pg missing: damaged, hands 1.pg
  // D2 announces a page whose file is missing: it hands nothing.
  const auto second = DocumentWith("D2", {}, AttrV2({u"D2/p1"}));
  storage.Write({MakeGroup("g1", {first, second}, std::vector<std::string>{"D1", "D2"})});
  Deletion(false, false);
  callback.unattended = true;
  Import("g1", u"G");
  ASSERT_EQ(2u, boxes.boxes.size());
  EXPECT_NE(std::u16string::npos, boxes.boxes[0].text.find(u"document D2 from group \"G\" are damaged:\n1.PG"));
  EXPECT_NE(std::u16string::npos, boxes.boxes[1].text.find(u"document D1 from group \"G\" are damaged:\n2.PG"));
  EXPECT_EQ(std::u16string::npos, boxes.boxes[1].text.find(u"1.PG"));
}

TEST_F(Cleanup, UnopenableExtraFileAndCorruptExtraImageKeepTheDocument) {
  auto corrupt = Tiff(1);
  std::string error;
  ASSERT_TRUE(esproduce::DamageTiff(&corrupt, esproduce::Damage::BadMagic, 0, &error)) << error;
  storage.Write({MakeGroup("g1", {DocumentWith("D1", {{"a.pg", Tiff(1)}, {"b.pg", corrupt}})})});
  Import("g1");
  EXPECT_EQ(1u, callback.pages.size());
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_NE(std::u16string::npos, boxes.boxes[0].text.find(u"B.PG"));
  EXPECT_TRUE(storage.Exists("g1/D1/b.pg")) << "not all of it reached the host";
}

}  // namespace
