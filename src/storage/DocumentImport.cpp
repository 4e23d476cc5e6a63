#include "storage/DocumentImport.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_map>

#include "Pictorn.h"
#include "Quillet.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "attrs/CommandsFile.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "attrs/ScanStamp.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "storage/AttributeReading.h"
#include "storage/Cleanup.h"
#include "storage/File.h"
#include "storage/Listing.h"
#include "storage/PageFiles.h"
#include "storage/PageImages.h"

namespace es {

using namespace attrs;
using platform::Access;
using platform::Os;
using platform::Share;

namespace {

struct ContainerDeleter {
  void operator()(CAttrContainer* c) const { delete c; }
};
using Container = std::unique_ptr<CAttrContainer, ContainerDeleter>;
struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
using Content = std::unique_ptr<std::uint8_t, FreeDeleter>;

// Named pages whose file is missing are looked for until this many more are missing than
// the folder has page files; the rest of what an attribute file announces is counted,
// not walked, so that a small file announcing billions of pages costs no more than this.
constexpr long long kMissingPagesBeyondFiles = 1000;

Str Indexed(std::int32_t index) { return u"(" + DecimalText(index) + u")"; }

// "*.pg" as the listing matches it: the name ends in ".pg", without regard to case.
bool IsPageFileName(StrView name) { return name.size() >= 3 && EqualsNoCase(name.substr(name.size() - 3), u".pg"); }

Str LibraryReason() {
  const char* why = PictornLastError();
  return why != nullptr && *why != '\0' ? FromUtf8(why) : Str(u"the image library gives no reason");
}

// The library writes into the container it is given; should it hand back another, that
// one is the page's.
void Adopt(Container& page, CAttrContainer* target) {
  if (target != page.get()) {
    page.release();
    page.reset(target);
  }
}

}  // namespace

void DamagedList::Add(const Str& entry) {
  if (shown_.size() < kDamagedEntriesShown) {
    shown_.push_back(entry);
  } else {
    ++more_;
  }
}

Str DamagedList::Text() const {
  Str text = Join(shown_, u", ");
  if (more_ > 0) text += (text.empty() ? u"" : u", ") + Str(u"and ") + DecimalText(more_) + u" more";
  return text;
}

bool IsPdfFile(File& file) {
  std::uint64_t size = 0;
  if (!file.Size(&size)) return false;
  std::uint8_t head[4] = {};
  std::size_t got = 0;
  if (!file.ReadFully(head, sizeof head, &got) || got != sizeof head) return false;
  return layout::IsPdfSignature(std::span<const std::uint8_t>(head, got), size);
}

void RemoveFromList(Str& name, StrArray& list) {
  name = ToUpper(name);
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (ToUpper(*it) == name) {
      list.erase(it);
      return;
    }
  }
}

void SetExtraPageAttributes(ImportState& element, std::int32_t pageNumber, CAttrContainer* page) {
  char16_t typeName[256] = {};
  Os().LoadString(CurrentModuleState()->resources, IDS_EXTRA_PAGE_TYPE, typeName, 256);
  page->SetAttr(kPageSourceName, typeName, 0);
  page->SetAttr(kPageAlwaysOne, 1L, 0);
  page->SetAttr(kPageAllowRescan, element.AllowRescanning != 0 ? 1L : 0L, 0);
  const ScanStamp stamp = CurrentScanStamp();
  page->SetAttr(kPageScanStamp, stamp.data(), kScanStampSize, 0);
  page->SetAttr(kPageAlwaysZero, 0L, 0);
  page->SetAttr(kPageFirstOfDocument, pageNumber == 1 ? 1 : 0, 0);
}

void HandOverPage(ImportState& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                  CAttrContainer* document, bool* refused, bool* stop) {
  *refused = false;
  *stop = false;
  if (element.callback == nullptr) {
    // Nobody to take the page: it goes, and the import goes on as if it was taken.
    delete page;
    delete document;
    PictornReleaseImage(image);
    return;
  }
  const bool accepted = element.callback->AddPage(page, image, imageSize, document);
  *refused = !accepted;
  *stop = element.callback->IsCancelled() || *refused;
}

namespace {

// One document's import, step by step. Each step either goes on or ends the document
// with a result; a step that finds something it cannot read keeps the document as it is
// for this scan.
class DocumentImporter {
 public:
  DocumentImporter(ImportState& element, const Folder& group, const Str& name, bool notFirst, DocumentOutcome* outcome)
      : element_(element),
        group_(group),
        name_(name),
        notFirst_(notFirst),
        out_(*outcome),
        path_(layout::DocumentFolderPath(group.Path(), name)),
        firstPage_(layout::FirstPagePath(path_)),
        attrPath_(layout::AttributeFilePath(path_)) {}

  DocumentResult Run();

 private:
  // Done: read whole. Absent: missing, or no regular file. Kept: there but unreadable now
  // (the document stays as it is). TooLarge: over its limit (the document stays, reported).
  enum class Read { Done, Absent, Kept, TooLarge };

  bool OpenAndSee();
  std::optional<DocumentResult> Classify();
  std::optional<DocumentResult> ReadAttributeFile();
  bool ReadSideFiles();
  std::optional<DocumentResult> NamedPages();
  bool ReadNamedPage(Str& pageName, std::uint64_t* image, std::uint32_t* imageSize, CAttrContainer*& page);
  void ListFurtherImages(File& file, const Str& fileName, const Str& pageName);
  std::optional<DocumentResult> ExtraPages();
  std::optional<DocumentResult> ImportPdf();
  DocumentResult Finish();

  const SeenEntry* Seen(const Str& name) const;
  Read ReadSideFile(const Str& name, Share share, std::uint64_t limit, std::vector<std::uint8_t>* bytes);
  // Something could not be read: the document stays as it is for this scan.
  void Keep(const Str& path, const Failure& why, int line);
  void Damaged(const Str& entry, const char* code, const Str& path, const Str& reason);
  void Found(const char* code, const Str& path, const Str& reason) { out_.findings.push_back({code, path, reason}); }
  std::optional<DocumentResult> HandOver(Container page, std::uint64_t image, std::uint32_t imageSize);

  ImportState& element_;
  const Folder& group_;
  const Str name_;
  const bool notFirst_;
  DocumentOutcome& out_;
  const Str path_;
  const Str firstPage_;
  const Str attrPath_;

  Folder folder_;
  std::unordered_map<Str, std::size_t> byName_;  // upper-cased name -> entry
  StrArray list_;               // page files not yet taken; the extra page files in the end
  std::int32_t pageFileCount_ = 0;
  File multiPage_;              // "1.pg" of a multi-page document, open while its images are read
  std::int32_t multiPageImages_ = 0;
  bool firstPageRefused_ = false;  // "1.pg" holds more images than can be read: none is taken
  bool refused_ = false;           // a file of it is over its limit: nothing of it is imported
  Container document_;
  CDocAttrsImport reader_;
  CDocAttrsImportV1 readerV1_;
  AttrFileHeader header_;
  std::int32_t handed_ = 0;
  DamagedList damaged_;
};

const SeenEntry* DocumentImporter::Seen(const Str& name) const {
  const auto it = byName_.find(ToUpper(name));
  return it == byName_.end() ? nullptr : &out_.entries[it->second];
}

void DocumentImporter::Keep(const Str& path, const Failure& why, int line) {
  TraceTrouble(path, why, line);
  out_.keep = true;
  Found("unreadable", path, why.Reason());
}

void DocumentImporter::Damaged(const Str& entry, const char* code, const Str& path, const Str& reason) {
  damaged_.Add(entry);
  Found(code, path, reason);
}

// The folder is listed once, and each entry's identity kept: what the import reads is what
// it saw, and finishing deletes nothing that changed or appeared meanwhile.
bool DocumentImporter::OpenAndSee() {
  folder_ = group_.Child(name_);
  if (!folder_.IsOpen()) {
    const Failure& why = folder_.OpenFailure();
    if (why.IsWrongKind()) {
      TraceSkippedEntry(path_, why, __LINE__);
      out_.keep = true;
      Found("link", path_, why.Reason());
    } else if (!why.IsAbsence()) {
      Keep(path_, why, __LINE__);
    } else {
      out_.keep = true;  // gone meanwhile: nothing to finish
    }
    return false;
  }
  std::vector<platform::FolderEntry> entries;
  Failure why;
  if (!folder_.List(&entries, &why)) {
    Keep(path_, why, __LINE__);
    return false;
  }
  out_.entries.reserve(entries.size());
  for (auto& entry : entries) {
    SeenEntry seen{std::move(entry.name), {}};
    if (!folder_.Stat(seen.name, &seen.info, &why)) {
      if (why.IsAbsence()) continue;  // gone since the listing: never seen
      Keep(folder_.PathOf(seen.name), why, __LINE__);
      return false;
    }
    byName_.emplace(ToUpper(seen.name), out_.entries.size());
    if (IsPageFileName(seen.name)) list_.push_back(seen.name);
    out_.entries.push_back(std::move(seen));
  }
  pageFileCount_ = static_cast<std::int32_t>(list_.size());
  return true;
}

std::optional<DocumentResult> DocumentImporter::Classify() {
  const SeenEntry* first = Seen(layout::kFirstPageFile);
  // A "1.pg" that is no regular file is no PDF and no multi-page file; its reading as a
  // page says what it is.
  if (first == nullptr || first->info.type != EntryType::File) return std::nullopt;
  File file(folder_, layout::kFirstPageFile, Access::Read, Share::Read);
  if (!file.IsOpen()) {
    const Failure why = file.OpenFailure();
    if (why.IsAbsence() || why.IsWrongKind()) return std::nullopt;  // changed since the listing
    if (why.error == Error::SharingViolation || why.error == Error::AccessDenied) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_MULTIPAGE_UNOPENABLE, firstPage_.c_str());
      Found("page-unopenable", firstPage_, why.Reason());
      return DocumentResult::Failed;
    }
    Keep(firstPage_, why, __LINE__);
    return DocumentResult::Done;
  }
  if (IsPdfFile(file)) {
    file.Close();
    out_.kind = layout::DocumentKind::Pdf;
    return ImportPdf();
  }
  const std::int32_t images = PictornImageCount(file.Handle());
  if (images == kPictornTooManyImages) {
    // None of its images can be taken without losing the others.
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s cannot be imported: %s", firstPage_.c_str(),
          LibraryReason().c_str());
    Str firstName = layout::kFirstPageFile;
    RemoveFromList(firstName, list_);
    Damaged(ToUpper(layout::kFirstPageFile), "page-damaged", firstPage_, LibraryReason());
    firstPageRefused_ = true;
    return std::nullopt;
  }
  if (images >= 2) {
    out_.kind = layout::DocumentKind::MultiPage;
    multiPage_ = std::move(file);
    multiPageImages_ = images;
    pageFileCount_ = images - 1 + pageFileCount_;
    Str firstName = layout::kFirstPageFile;
    RemoveFromList(firstName, list_);
  }
  return std::nullopt;
}

// Reads a file of the document whole. Absent also when it is a link or no regular file
// (traced); Kept when it is there but cannot be read now.
DocumentImporter::Read DocumentImporter::ReadSideFile(const Str& name, Share share, std::uint64_t limit,
                                                      std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  const Str path = folder_.PathOf(name);
  const SeenEntry* seen = Seen(name);
  if (seen == nullptr) return Read::Absent;
  if (seen->info.type != EntryType::File) {
    TraceSkippedEntry(path, Failure::Of(seen->info.type == EntryType::Link ? Error::IsLink : Error::WrongType),
                      __LINE__);
    Found("link", path, u"not a regular file; taken as missing");
    return Read::Absent;
  }
  File file(folder_, seen->name, Access::Read, share);
  if (!file.IsOpen()) {
    const Failure why = file.OpenFailure();
    if (why.IsAbsence()) return Read::Absent;
    if (why.IsWrongKind()) {
      TraceSkippedEntry(path, why, __LINE__);
      return Read::Absent;
    }
    Keep(path, why, __LINE__);
    return Read::Kept;
  }
  switch (file.ReadWhole(bytes, limit)) {
    case File::Whole::Read:
      return Read::Done;
    case File::Whole::TooLarge:
      // Imported without it, the document would lose what it holds: nothing of it is
      // imported, and the message says which file is too large.
      Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s is larger than %d MiB: the document is not imported",
            path.c_str(), static_cast<int>(limit >> 20));
      Damaged(ToUpper(seen->name), "too-large", path,
              u"larger than " + DecimalText(static_cast<long long>(limit >> 20)) +
                  u" MiB: the document is not imported, and stays");
      refused_ = true;
      return Read::TooLarge;
    case File::Whole::Short:
    case File::Whole::Failed:
      break;
  }
  Failure why;
  why.error = Error::Io;
  why.text = Os().LastErrorText();
  Keep(path, why, __LINE__);
  return Read::Kept;
}

std::optional<DocumentResult> DocumentImporter::ReadAttributeFile() {
  std::vector<std::uint8_t> bytes;
  // Without sharing: the producer must have finished writing it.
  const Read read = ReadSideFile(layout::kAttributeFile, Share::None, layout::kTextFileLimit, &bytes);
  if (read == Read::Kept) return DocumentResult::Done;
  if (read == Read::TooLarge) return Finish();
  AnnouncedPages announced;
  if (!ReadAttributes(element_, reader_, read == Read::Done ? &bytes : nullptr, document_.get(), path_,
                      pageFileCount_, &header_, &announced)) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath_.c_str());
    if (read == Read::Done) Found("attributes-unreadable", attrPath_, u"every page file is imported as an extra page");
    // Without named pages a multi-page "1.pg" is an extra page file, all its images with it.
    if (multiPage_.IsOpen()) {
      list_.insert(list_.begin(), layout::kFirstPageFile);
      multiPageImages_ = 0;
    }
    header_.version = kAttrFileVersion2;
    header_.pageCount = 0;
  } else if (header_.version != kAttrFileVersion2) {
    Trace(kSevError, kSourceFrame, __LINE__, IDS_OLD_VERSION);
    if (!ReadAttributesV1(element_, readerV1_, bytes, document_.get(), path_, pageFileCount_, &header_,
                          &announced)) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_ATTRS_UNREADABLE, attrPath_.c_str());
      Found("attributes-version", attrPath_,
            u"version " + Hex8(header_.version) + u" is neither 0x0200 nor 0x0100: the document fails");
      return DocumentResult::Failed;
    }
    out_.attributesRead = true;
  } else {
    out_.attributesRead = true;
  }
  out_.attributeVersion = header_.version;
  out_.announcedKnown = announced.known;
  out_.announcedPages = announced.count;
  if (announced.known && announced.count != pageFileCount_)
    Found("page-count", path_,
          u"the attribute file announces " + DecimalText(announced.count) + u" pages, the document has " +
              DecimalText(pageFileCount_) + u" page files");
  return std::nullopt;
}

bool DocumentImporter::ReadSideFiles() {
  std::vector<std::uint8_t> kvattr;
  std::vector<std::uint8_t> commands;
  const Read kv = ReadSideFile(layout::kKvAttrFile, Share::None, layout::kSideFileLimit, &kvattr);
  if (kv == Read::Kept || kv == Read::TooLarge) return false;
  const Read cmd = ReadSideFile(layout::kCommandsFile, Share::Read, layout::kSideFileLimit, &commands);
  if (cmd == Read::Kept || cmd == Read::TooLarge) return false;
  ApplyCommandFiles(kv == Read::Done ? &kvattr : nullptr, cmd == Read::Done ? &commands : nullptr, document_.get());
  return true;
}

// Hands a page over; the document container rides with the first one. Returns the
// document result when the document ends here (refused or stopped). The first page the
// host accepts finishes the document before this one.
std::optional<DocumentResult> DocumentImporter::HandOver(Container page, std::uint64_t image, std::uint32_t imageSize) {
  bool refused = false;
  bool stop = false;
  HandOverPage(element_, page.release(), image, imageSize, document_.release(), &refused, &stop);
  if (stop) {
    out_.pagesHandedOver = handed_ + (refused ? 0 : 1);
    return refused ? DocumentResult::Failed : DocumentResult::Stopped;
  }
  if (handed_ == 0 && notFirst_) FinishDocument(element_);
  ++handed_;
  return std::nullopt;
}

// The first image of a named page file, opened without sharing: a page file another
// program still holds open is not finished. Every further image in it never reaches the
// host, so it is listed as damaged.
bool DocumentImporter::ReadNamedPage(Str& pageName, std::uint64_t* image, std::uint32_t* imageSize,
                                     CAttrContainer*& page) {
  const Str pagePath = layout::PageFilePath(path_, pageName);
  const SeenEntry* seen = Seen(pageName);
  RemoveFromList(pageName, list_);
  const auto missing = [&](const char* code, const Str& reason) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_IMAGE_UNREADABLE, pagePath.c_str());
    Damaged(pageName, code, pagePath, reason);
    return false;
  };
  if (firstPageRefused_ && EqualsNoCase(pageName, layout::kFirstPageFile)) return false;  // listed already
  if (seen == nullptr) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_TIFF_MISSING, pagePath.c_str());
    return missing("page-missing", u"the page file is missing");
  }
  if (seen->info.type == EntryType::Link || seen->info.type == EntryType::Other) {
    const Failure why = Failure::Of(seen->info.type == EntryType::Link ? Error::IsLink : Error::WrongType);
    TraceSkippedEntry(pagePath, why, __LINE__);
    return missing("page-link", why.Reason());
  }
  File file(folder_, seen->name, Access::Read, Share::None);
  if (!file.IsOpen()) {
    const Failure why = file.OpenFailure();
    if (why.IsTrouble() && why.error != Error::SharingViolation && why.error != Error::AccessDenied) {
      Keep(pagePath, why, __LINE__);
      return false;
    }
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_TIFF_MISSING, pagePath.c_str());
    return missing("page-unopenable", why.Reason());
  }
  if (GT_CreatePageAttrsFromHandle(file.Handle(), 0, image, imageSize, page, 1) != 0) {
    const Str reason = LibraryReason();
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s: %s", pagePath.c_str(), reason.c_str());
    return missing("page-damaged", reason);
  }
  ListFurtherImages(file, seen->name, pageName);
  return true;
}

void DocumentImporter::ListFurtherImages(File& file, const Str& fileName, const Str& pageName) {
  const std::int32_t images = PictornImageCount(file.Handle());
  const Str path = folder_.PathOf(fileName);
  if (images == kPictornTooManyImages) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s: only its first image is a page here: %s", path.c_str(),
          LibraryReason().c_str());
    Damaged(pageName + u"(1...)", "page-further-images", path, LibraryReason());
    return;
  }
  if (images < 2) return;
  Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s holds %d images; only the first is its page", path.c_str(),
        static_cast<int>(images));
  for (std::int32_t j = 1; j < images; ++j) damaged_.Add(pageName + Indexed(j));
  Found("page-further-images", path,
        u"holds " + DecimalText(images) + u" images; only the first is imported as its page");
}

std::optional<DocumentResult> DocumentImporter::NamedPages() {
  const bool version2 = header_.version == kAttrFileVersion2;
  std::int32_t namedPages = header_.pageCount;
  // A file cannot hold more page records than 8-byte steps: a count beyond that is damage.
  const auto recordLimit = static_cast<std::int64_t>(reader_.FileSize() / 8);
  if (version2 && namedPages > recordLimit) {
    Trace(kSevError, kSourceFrame, __LINE__, u"Attribute file %s announces %d pages but can hold at most %d.",
          attrPath_.c_str(), namedPages, static_cast<int>(recordLimit));
    namedPages = static_cast<std::int32_t>(recordLimit);
  }
  long long missing = 0;
  for (std::int32_t i = 0; i < namedPages; ++i) {
    if (missing > pageFileCount_ + kMissingPagesBeyondFiles) {
      const std::int32_t rest = namedPages - i;
      Trace(kSevError, kSourceFrame, __LINE__,
            u"%s: %d more announced pages are not looked for; the document has only %d page files", path_.c_str(),
            static_cast<int>(rest), static_cast<int>(pageFileCount_));
      damaged_.AddMore(rest);
      Found("page-missing", path_, DecimalText(rest) + u" more announced pages are not there");
      break;
    }
    Container page(new CAttrContainer(kScopePage));
    std::uint32_t pageValue = 0;
    const bool read = version2 ? reader_.ReadPageAttributes(i, page.get(), &pageValue)
                               : readerV1_.ReadPageAttributes(i, page.get(), &pageValue);
    long present = 0;
    if (document_ && document_->GetAttr(kDocBarcodePending, &present, 0)) document_->SetAttr(kDocBarcodePending, 1L, 0);
    if (!read) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_PAGE_ATTRS_UNREADABLE, attrPath_.c_str());
      // A page file of its own stays in the list and reaches the host as an extra page; an
      // image of a multi-page "1.pg" would never reach it.
      if (multiPage_.IsOpen()) {
        Damaged(layout::kFirstPageFile + Indexed(i), "page-attributes", attrPath_, u"page attributes cannot be read");
        ++missing;
      }
      continue;
    }
    Str pageName;
    std::uint64_t image = 0;
    std::uint32_t imageSize = 0;
    CAttrContainer* target = page.get();
    if (multiPage_.IsOpen()) {
      pageName = layout::kFirstPageFile;
      if (GT_CreatePageAttrsFromHandle(multiPage_.Handle(), i, &image, &imageSize, target, 1) != 0) {
        const Str index = Indexed(i);
        const Str reason = LibraryReason();
        Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_CREATE_PAGE_FAILED, index.c_str(), firstPage_.c_str());
        Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s%s: %s", firstPage_.c_str(), index.c_str(), reason.c_str());
        Damaged(pageName + index, "page-damaged", firstPage_, reason);
        ++missing;
        continue;
      }
    } else {
      pageName = version2 ? layout::PageFileNameV2(i + 1) : layout::PageFileNameV1(pageValue);
      if (!ReadNamedPage(pageName, &image, &imageSize, target)) {
        ++missing;
        continue;
      }
    }
    Adopt(page, target);
    page->SetAttr(kPageFirstOfDocument, i == 0 ? 1 : 0, 0);
    if (page->GetAttr(kPageAlwaysZero, &present, 0)) page->SetAttr(kPageAlwaysZero, 0L, 0);
    page->SetAttr(kPageAlwaysOne, 1L, 0);
    page->SetAttr(kPageAllowRescan, element_.AllowRescanning != 0 ? 1L : 0L, 0);

    if (const auto ended = HandOver(std::move(page), image, imageSize)) return ended;
    element_.lastPageName = pageName;
  }
  // Images of a multi-page "1.pg" beyond what the attribute file announces never reach
  // the host: the document stays, and says so.
  if (multiPage_.IsOpen() && namedPages < multiPageImages_) {
    const std::int32_t from = namedPages < 0 ? 0 : namedPages;
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s holds %d images; images from %d on are not imported",
          firstPage_.c_str(), static_cast<int>(multiPageImages_), static_cast<int>(from));
    for (std::int32_t j = from; j < multiPageImages_; ++j) damaged_.Add(layout::kFirstPageFile + Indexed(j));
    Found("images-beyond-count", firstPage_,
          u"holds " + DecimalText(multiPageImages_) + u" images, the attribute file names " + DecimalText(from));
  }
  multiPage_.Close();
  return std::nullopt;
}

std::optional<DocumentResult> DocumentImporter::ExtraPages() {
  for (const Str& name : list_) {
    const Str path = folder_.PathOf(name);
    const SeenEntry* seen = Seen(name);
    if (seen != nullptr && (seen->info.type == EntryType::Link || seen->info.type == EntryType::Other)) {
      // Taken as missing: it is never read, and finishing removes the entry itself.
      const Failure why = Failure::Of(seen->info.type == EntryType::Link ? Error::IsLink : Error::WrongType);
      TraceSkippedEntry(path, why, __LINE__);
      Found("link", path, why.Reason() + u"; taken as missing");
      continue;
    }
    File file(folder_, name, Access::Read, Share::Read);
    if (!file.IsOpen()) {
      const Failure why = file.OpenFailure();
      if (why.IsTrouble() && why.error != Error::SharingViolation && why.error != Error::AccessDenied) {
        Keep(path, why, __LINE__);
        continue;
      }
      Trace(kSevSkipped, kSourceFrame, __LINE__, Log::kFileCannotBeOpened, path.c_str());
      Damaged(ToUpper(name), "extra-unopenable", path, why.Reason());
      continue;
    }
    const std::int32_t images = PictornImageCount(file.Handle());
    if (images <= 0) {
      const Str reason = LibraryReason();
      Trace(kSevError, kSourceFrame, __LINE__, u"%s: %s", path.c_str(), reason.c_str());
      Damaged(ToUpper(name), "extra-damaged", path, reason);
    }
    for (std::int32_t j = 0; j < images; ++j) {
      Container page(new CAttrContainer(kScopePage));
      std::uint64_t image = 0;
      std::uint32_t imageSize = 0;
      CAttrContainer* target = page.get();
      if (GT_CreatePageAttrsFromHandle(file.Handle(), j, &image, &imageSize, target, 1) != 0) {
        const Str index = Indexed(j);
        const Str reason = LibraryReason();
        Trace(kSevError, kSourceFrame, __LINE__, IDS_CREATE_PAGE_FAILED, index.c_str(), path.c_str());
        Trace(kSevError, kSourceFrame, __LINE__, u"%s%s: %s", path.c_str(), index.c_str(), reason.c_str());
        Damaged(ToUpper(name) + index, "extra-damaged", path, reason);
        continue;
      }
      Adopt(page, target);
      SetExtraPageAttributes(element_, handed_ + 1, page.get());
      if (const auto ended = HandOver(std::move(page), image, imageSize)) return ended;
    }
    file.Close();
    element_.lastPageName = name;
  }
  return std::nullopt;
}

// A PDF "1.pg" is the whole document: one page, rendered or replaced, with the file's
// bytes as content.
std::optional<DocumentResult> DocumentImporter::ImportPdf() {
  constexpr std::int32_t kPdfPageFileCount = 1;
  if (pageFileCount_ > 1)
    Trace(kSevSkipped, kSourceFrame, __LINE__, "%s: PDF Document includes unsupported additional pages.",
          path_.c_str());
  Str firstName = layout::kFirstPageFile;
  RemoveFromList(firstName, list_);
  // Page files beside it are never imported: the document stays so that nothing is
  // deleted unseen.
  for (const Str& name : list_) Damaged(ToUpper(name), "pdf-extra-pages", folder_.PathOf(name),
                                        u"a page file beside a PDF document is not imported");
  pageFileCount_ = kPdfPageFileCount;

  const auto finishPrevious = [&](DocumentResult result) {
    // The previous document's pages all reached the host before this one started.
    if (notFirst_) FinishDocument(element_);
    return result;
  };
  document_.reset(new CAttrContainer(kScopeDocument));
  if (const auto ended = ReadAttributeFile()) return finishPrevious(*ended);
  if (out_.keep) return finishPrevious(DocumentResult::Done);
  if (header_.pageCount > 1)
    Trace(kSevSkipped, kSourceFrame, __LINE__, "%s: PDF Document includes unsupported additional pages.",
          path_.c_str());
  if (!ReadSideFiles()) {
    finishPrevious(DocumentResult::Done);
    return refused_ ? Finish() : DocumentResult::Done;
  }

  const bool version2 = header_.version == kAttrFileVersion2;
  Container page(new CAttrContainer(kScopePage));
  std::uint32_t pageValue = 0;
  const bool read = version2 ? reader_.ReadPageAttributes(0, page.get(), &pageValue)
                             : readerV1_.ReadPageAttributes(0, page.get(), &pageValue);
  long present = 0;
  if (document_->GetAttr(kDocBarcodePending, &present, 0)) document_->SetAttr(kDocBarcodePending, 1L, 0);
  if (!read) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, IDS_PAGE_ATTRS_UNREADABLE, attrPath_.c_str());
    page.reset();
  }
  const Str pageName = version2 ? layout::PageFileNameV2(1) : layout::PageFileNameV1(pageValue);

  File file(folder_, layout::kFirstPageFile, Access::Read, Share::Read);
  if (!file.IsOpen()) {
    const Failure why = file.OpenFailure();
    if (why.IsTrouble() && why.error != Error::SharingViolation && why.error != Error::AccessDenied) {
      Keep(firstPage_, why, __LINE__);
      return finishPrevious(DocumentResult::Done);
    }
    Trace(kSevSkipped, kSourceFrame, __LINE__, Log::kFileCannotBeOpened, firstPage_.c_str());
    Found("page-unopenable", firstPage_, why.Reason());
    return finishPrevious(DocumentResult::Failed);
  }
  std::uint64_t size = 0;
  if (file.Size(&size) && size > layout::kPdfContentLimit) {
    // Too large to travel as content: the document stays, and says why.
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s is larger than %d MiB and is not imported", firstPage_.c_str(),
          static_cast<int>(layout::kPdfContentLimit >> 20));
    Damaged(ToUpper(layout::kFirstPageFile), "too-large", firstPage_,
            u"a PDF larger than " + DecimalText(static_cast<long long>(layout::kPdfContentLimit >> 20)) +
                u" MiB: the document is not imported, and stays");
    finishPrevious(DocumentResult::Done);
    return Finish();
  }
  Content content;
  std::size_t got = 0;
  const bool sized = file.Size(&size) && size <= layout::kPdfContentLimit;
  if (sized) content.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size) + 1)));
  if (!sized || !content || !file.Seek(0) || !file.ReadFully(content.get(), static_cast<std::size_t>(size), &got) ||
      got != size) {
    file.Close();
    // The wording is fixed and has no insert; the path travels with the line all the same.
    Trace(kSevSkipped, kSourceFrame, __LINE__, "Cannot read file content ", PassedAlong{firstPage_.c_str()});
    Found("page-unopenable", firstPage_, u"the PDF cannot be read");
    return finishPrevious(DocumentResult::Failed);
  }
  file.Close();
  const auto count = static_cast<std::uint32_t>(size);
  std::uint64_t image = 0;
  std::uint32_t imageSize = 0;
  CAttrContainer* target = page.get();
  if (!ReadPdfPageImage(content.get(), count, &image, &imageSize, target)) {
    Found("page-damaged", firstPage_, u"neither the PDF nor the replacement image can be read");
    return finishPrevious(DocumentResult::Failed);
  }
  Adopt(page, target);
  if (page) {
    page->SetAttr(kPageFirstOfDocument, 1, 0);
    page->SetAttr(kPageAlwaysOne, 1L, 0);
    // A PDF page is never offered for rescanning.
    page->SetAttr(kPageAllowRescan, 0L, 0);
  }
  bool refused = false;
  bool stop = false;
  HandOverPageWithContent(element_, page.release(), image, imageSize, document_.release(), content.release(), count,
                          &refused, &stop);
  if (stop) {
    out_.pagesHandedOver = refused ? 0 : 1;
    return finishPrevious(refused ? DocumentResult::Failed : DocumentResult::Stopped);
  }
  handed_ = 1;
  element_.lastPageName = pageName;
  // The previous document is finished with its own damaged pages, before this one's join.
  finishPrevious(DocumentResult::Done);
  return Finish();
}

DocumentResult DocumentImporter::Finish() {
  out_.pagesHandedOver = handed_;
  out_.pageFileCount = pageFileCount_;
  out_.damagedPages = damaged_.Text();
  // The entries wait with the document until it is finished; a document that handed
  // nothing over is reported by the group driver under its own name.
  if (!damaged_.Empty() && handed_ > 0) {
    if (!element_.damagedPages.empty()) element_.damagedPages += u", ";
    element_.damagedPages += out_.damagedPages;
  }
  return DocumentResult::Done;
}

DocumentResult DocumentImporter::Run() {
  Trace(kSevProgress, kSourceFrame, __LINE__, u"Directory to scan: '%s'", path_.c_str());
  Trace(kSevProgress, kSourceFrame, __LINE__, u"SCATTR file: '%s'", attrPath_.c_str());
  if (!OpenAndSee()) return DocumentResult::Done;
  out_.pageFileCount = pageFileCount_;
  if (const SeenEntry* mark = Seen(layout::kDeliveredMark); mark != nullptr && mark->info.type == EntryType::File) {
    Trace(kSevProgress, kSourceFrame, __LINE__, u"%s was delivered before; only its delete is finished", path_.c_str());
    out_.delivered = true;
    return DocumentResult::Done;
  }
  if (const auto ended = Classify()) {
    out_.pageFileCount = pageFileCount_;
    if (out_.pagesHandedOver == 0) out_.pagesHandedOver = handed_;
    return *ended;
  }
  if (out_.keep) return DocumentResult::Done;
  out_.pageFileCount = pageFileCount_;
  document_.reset(new CAttrContainer(kScopeDocument));
  if (const auto ended = ReadAttributeFile()) return *ended;
  if (out_.keep) return DocumentResult::Done;
  if (!ReadSideFiles()) return refused_ ? Finish() : DocumentResult::Done;
  if (const auto ended = NamedPages()) return *ended;
  if (const auto ended = ExtraPages()) return *ended;
  return Finish();
}

}  // namespace

DocumentResult ImportDocument(ImportState& element, const Folder& group, const Str& name, bool notFirst,
                            DocumentOutcome* outcome) {
  *outcome = DocumentOutcome{};
  // A damaged document repeats the same line for every page it lacks: the trace keeps ten
  // of each and counts the rest.
  const TraceRepeatLimit limit;
  DocumentImporter importer(element, group, name, notFirst, outcome);
  return importer.Run();
}

}  // namespace es
