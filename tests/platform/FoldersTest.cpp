// Folder handles: what each call does with each kind of entry, that no call follows a
// link or touches what a link points at, that a held folder stays the folder it was, and
// the Windows rules (case, read-only, sharing) relative to a folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "TempFolder.h"
#include "platform/Platform.h"

namespace es::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

bool UnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// Makes `link` point at `target` (relative to the link's folder). Empty when done, else
// why this system cannot.
std::string MakeLink(const TempFolder& t, const fs::path& link, const fs::path& target, bool folder) {
#ifdef _WIN32
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (!CreateSymbolicLinkW((t.Root() / link).c_str(), target.c_str(), flags)) {
    return "symbolic links cannot be made here (error " + std::to_string(GetLastError()) + ")";
  }
  const DWORD attributes = GetFileAttributesW((t.Root() / link).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return "CreateSymbolicLinkW reports success but makes no link (Wine)";
  }
#else
  std::error_code error;
  if (folder) {
    fs::create_directory_symlink(target, t.Root() / link, error);
  } else {
    fs::create_symlink(target, t.Root() / link, error);
  }
  if (error) return error.message();
#endif
  return {};
}

enum class Kind { File, Folder, FileLink, FolderLink, DanglingLink, Fifo, Missing };

// The entry "e" of kind `kind`, beside the link targets "target.txt" and "targetdir".
std::string MakeEntry(const TempFolder& t, Kind kind) {
  t.Write("target.txt", "outside");
  fs::create_directory(t.Root() / "targetdir");
  t.Write("targetdir/inner.txt", "inner");
  switch (kind) {
    case Kind::File: t.Write("e", "content"); return {};
    case Kind::Folder: fs::create_directory(t.Root() / "e"); return {};
    case Kind::FileLink: return MakeLink(t, "e", "target.txt", false);
    case Kind::FolderLink: return MakeLink(t, "e", "targetdir", true);
    case Kind::DanglingLink: return MakeLink(t, "e", "nowhere", false);
    case Kind::Fifo:
#ifndef _WIN32
      if (mkfifo((t.Root() / "e").c_str(), 0666) == 0) return {};
#endif
      return "no FIFO here";
    case Kind::Missing: return {};
  }
  return "unknown kind";
}

// Closes what it opened, so that a failed expectation leaves nothing held.
struct Folder {
  explicit Folder(FolderHandle handle) : handle(handle) {}
  ~Folder() { Os().CloseFolder(handle); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  bool ok() const { return handle != kInvalidFolder; }
  FolderHandle handle;
};

struct File {
  explicit File(FileHandle handle) : handle(handle) {}
  ~File() { Os().Close(handle); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return handle != kInvalidFile; }
  FileHandle handle;
};

FolderHandle OpenRoot(const TempFolder& t) { return Os().OpenFolder(t.Path(), false, nullptr); }

std::string ReadAll(FileHandle file) {
  std::string bytes;
  char buffer[256];
  std::size_t got = 0;
  while (Os().Read(file, buffer, sizeof buffer, &got) && got > 0) bytes.append(buffer, got);
  return bytes;
}

std::set<Str> Names(FolderHandle folder) {
  std::set<Str> names;
  Os().ListFolder(folder, [&](const FolderEntry& entry) { return names.insert(entry.name), true; }, nullptr);
  return names;
}

enum Call {
  kOpenRead,
  kCreateAlways,
  kCreateNew,
  kPathCreateNew,  // the path call, held to the same rule as the folder call
  kSubFolder,
  kFolderNoFollow,
  kFolderFollow,
  kSetReadOnly,
  kDelete,
  kRemoveFolder,
  kMove,
  kCalls
};
const char* const kCallNames[] = {"OpenFileAt read",  "OpenFileAt CreateAlways", "OpenFileAt CreateNew",
                                  "OpenFile CreateNew", "OpenSubFolder", "OpenFolder with a trailing separator",
                                  "OpenFolder following", "SetAttributesAt", "DeleteFileAt",
                                  "RemoveFolderAt", "MoveFileAt"};

// Makes the call on "e"; handles it opens are closed at once.
Error Perform(Call call, const TempFolder& t, FolderHandle root) {
  Error error = Error::None;
  switch (call) {
    case kOpenRead:
      File(Os().OpenFileAt(root, u"e", Access::Read, Share::Read, Disposition::OpenExisting, &error));
      break;
    case kCreateAlways:
      File(Os().OpenFileAt(root, u"e", Access::Write, Share::None, Disposition::CreateAlways, &error));
      break;
    case kCreateNew:
      File(Os().OpenFileAt(root, u"e", Access::Write, Share::None, Disposition::CreateNew, &error));
      break;
    case kPathCreateNew:
      File(Os().OpenFile(t.Path(u"e"), Access::Write, Share::None, Disposition::CreateNew, &error));
      break;
    case kSubFolder: Folder(Os().OpenSubFolder(root, u"e", &error)); break;
    case kFolderNoFollow: Folder(Os().OpenFolder(t.Path(u"e") + kPathSep, false, &error)); break;
    case kFolderFollow: Folder(Os().OpenFolder(t.Path(u"e"), true, &error)); break;
    case kSetReadOnly: Os().SetAttributesAt(root, u"e", kAttrReadOnly, &error); break;
    case kDelete: Os().DeleteFileAt(root, u"e", &error); break;
    case kRemoveFolder: Os().RemoveFolderAt(root, u"e", &error); break;
    case kMove: Os().MoveFileAt(root, u"e", u"moved", &error); break;
    case kCalls: break;
  }
  return error;
}

struct Row {
  Kind kind;
  const char* name;
  EntryType type;  // as StatAt and ListFolder report it
  Error expected[kCalls];
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

constexpr Error N = Error::None, Nf = Error::NotFound, L = Error::IsLink, W = Error::WrongType,
                E = Error::AlreadyExists;

// clang-format off
const Row kRows[] = {
  //                                                    read CrAlw CrNew pathNew sub noFol fol  attr  del  rmdir move
  {Kind::File,         "File",          EntryType::File,   {N,  N,    E,    E,     W,  W,    W,   N,    N,   W,    N}},
  {Kind::Folder,       "Folder",        EntryType::Folder, {W,  W,    E,    E,     N,  N,    N,   W,    W,   N,    N}},
  {Kind::FileLink,     "LinkToFile",    EntryType::Link,   {L,  L,    E,    E,     L,  L,    W,   L,    N,   N,    N}},
  {Kind::FolderLink,   "LinkToFolder",  EntryType::Link,   {L,  L,    E,    E,     L,  L,    N,   L,    N,   N,    N}},
  {Kind::DanglingLink, "DanglingLink",  EntryType::Link,   {L,  L,    E,    E,     L,  L,    Nf,  L,    N,   N,    N}},
#ifndef _WIN32
  {Kind::Fifo,         "Fifo",          EntryType::Other,  {W,  W,    E,    E,     W,  W,    W,   W,    N,   W,    N}},
#endif
  {Kind::Missing,      "Missing",       EntryType::Other,  {Nf, N,    N,    N,     Nf, Nf,   Nf,  Nf,   Nf,  Nf,   Nf}},
};
// clang-format on

class EntryKinds : public ::testing::TestWithParam<Row> {};

TEST_P(EntryKinds, EachCall) {
  const Row& row = GetParam();
  for (int c = 0; c < kCalls; ++c) {
    const Call call = static_cast<Call>(c);
    SCOPED_TRACE(kCallNames[call]);
    TempFolder t;
    const std::string unavailable = MakeEntry(t, row.kind);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    Folder root(OpenRoot(t));
    ASSERT_TRUE(root.ok());
    if (c == 0) {
      // Listing and facts of the entry itself, never of what a link points at.
      EntryInfo info;
      Error error = Error::None;
      const bool found = Os().StatAt(root.handle, u"e", &info, &error);
      EXPECT_EQ(found, row.kind != Kind::Missing);
      if (found) {
        EXPECT_EQ(info.type, row.type);
      } else {
        EXPECT_EQ(error, Error::NotFound);
      }
      int listed = 0;
      ASSERT_TRUE(Os().ListFolder(root.handle, [&](const FolderEntry& entry) {
        if (entry.name != u"e") return true;
        ++listed;
        EXPECT_EQ(entry.type, row.type);
        return true;
      }, &error));
      EXPECT_EQ(listed, row.kind == Kind::Missing ? 0 : 1);
    }

    const Error error = Perform(call, t, root.handle);
    EXPECT_EQ(error, row.expected[call]);
    EXPECT_TRUE(error == Error::None || !Os().LastErrorText().empty());

    // Nothing a link points at is ever changed.
    EXPECT_EQ(t.Read("target.txt"), "outside");
    EXPECT_EQ(t.Read("targetdir/inner.txt"), "inner");
    EXPECT_FALSE(fs::exists(t.Root() / "nowhere"));

    // A refused call leaves the entry as it was; a deletion or move takes it away.
    EntryInfo after;
    const bool present = Os().StatAt(root.handle, u"e", &after, nullptr);
    const bool made = call == kCreateAlways || call == kCreateNew || call == kPathCreateNew;
    const bool gone = call == kDelete || call == kRemoveFolder || call == kMove;
    if (row.kind == Kind::Missing) {
      EXPECT_EQ(present, error == Error::None && made);
    } else {
      EXPECT_EQ(present, !(error == Error::None && gone));
      EXPECT_TRUE(!present || after.type == row.type);
    }
    if (call == kMove && error == Error::None) {
      ASSERT_TRUE(Os().StatAt(root.handle, u"moved", &after, nullptr));
      EXPECT_EQ(after.type, row.type);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, EntryKinds, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Folders, AHeldFolderStaysTheFolderItWasWhenItsPathIsSwapped) {
  TempFolder t;
  fs::create_directories(t.Root() / "doc");
  fs::create_directories(t.Root() / "outside");
  t.Write("doc/a.txt", "mine");
  t.Write("outside/a.txt", "theirs");
  t.Write("outside/b.txt", "theirs");
  Folder root(OpenRoot(t));
  Folder doc(Os().OpenSubFolder(root.handle, u"doc", nullptr));
  ASSERT_TRUE(doc.ok());

  // The storage's writer renames the folder away and puts a link to elsewhere in its
  // place (where links cannot be made, another folder).
  fs::rename(t.Root() / "doc", t.Root() / "old");
  const std::string noLink = MakeLink(t, "doc", "outside", true);
  if (!noLink.empty()) {
    std::cout << "note: " << noLink << "; the folder is swapped for another folder instead\n";
    fs::create_directory(t.Root() / "doc");
    t.Write("doc/a.txt", "theirs");
  }

  EXPECT_EQ(Names(doc.handle), std::set<Str>{u"a.txt"});
  {
    File file(Os().OpenFileAt(doc.handle, u"a.txt", Access::Read, Share::Read, Disposition::OpenExisting, nullptr));
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(ReadAll(file.handle), "mine");
  }
  if (noLink.empty()) {
    Error error = Error::None;
    EXPECT_EQ(Os().OpenSubFolder(root.handle, u"doc", &error), kInvalidFolder);
    EXPECT_EQ(error, Error::IsLink);
  }
  if (UnderWine()) {
    GTEST_SKIP() << "Wine deletes a file by its folder's old path: once the held folder is renamed, a deletion "
                    "through it reports success and deletes nothing";
  }
  EXPECT_TRUE(Os().DeleteFileAt(doc.handle, u"a.txt", nullptr));
  EXPECT_FALSE(fs::exists(t.Root() / "old" / "a.txt"));
  EXPECT_EQ(t.Read(noLink.empty() ? "outside/a.txt" : "doc/a.txt"), "theirs");
}

TEST(Folders, NamesAreFoundWithoutRegardToCase) {
  TempFolder t;
  t.Write("Page.PG", "p");
  fs::create_directory(t.Root() / "Doc");
  Folder root(OpenRoot(t));
  EntryInfo info;
  ASSERT_TRUE(Os().StatAt(root.handle, u"page.pg", &info, nullptr));
  EXPECT_EQ(info.type, EntryType::File);
  {
    File file(Os().OpenFileAt(root.handle, u"PAGE.PG", Access::Read, Share::Read, Disposition::OpenExisting, nullptr));
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(ReadAll(file.handle), "p");
  }
  Error error = Error::None;
  EXPECT_FALSE(File(Os().OpenFileAt(root.handle, u"page.PG", Access::Write, Share::None, Disposition::CreateNew,
                                    &error)).ok());
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_TRUE(Folder(Os().OpenSubFolder(root.handle, u"DOC", nullptr)).ok());
  EXPECT_FALSE(Os().MoveFileAt(root.handle, u"page.pg", u"doc", &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_TRUE(Os().RemoveFolderAt(root.handle, u"dOC", nullptr));
  EXPECT_EQ(Names(root.handle), std::set<Str>{u"Page.PG"});
#ifndef _WIN32
  // Where the file system tells case apart, the exact name comes first.
  t.Write("x.txt", "lower");
  t.Write("X.TXT", "upper");
  for (const auto& [name, content] : {std::pair{u"x.txt", "lower"}, std::pair{u"X.TXT", "upper"}}) {
    File file(Os().OpenFileAt(root.handle, name, Access::Read, Share::Read, Disposition::OpenExisting, nullptr));
    EXPECT_EQ(ReadAll(file.handle), content);
  }
  // A name that is not UTF-8 comes back from the listing in a form that finds it again.
  t.Write("\xff\xfe.pg", "raw");
  const Str raw = u"\xdcff\xdcfe.pg";
  EXPECT_EQ(Names(root.handle).count(raw), 1u);
  {
    File file(Os().OpenFileAt(root.handle, raw, Access::Read, Share::Read, Disposition::OpenExisting, nullptr));
    EXPECT_EQ(ReadAll(file.handle), "raw");
  }
  EXPECT_TRUE(Os().DeleteFileAt(root.handle, raw, nullptr));
  EXPECT_FALSE(fs::exists(t.Root() / "\xff\xfe.pg"));
#endif
  if (UnderWine()) GTEST_SKIP() << "Wine reports a change of case only as done but keeps the old case";
  EXPECT_TRUE(Os().MoveFileAt(root.handle, u"page.pg", u"PAGE.PG", &error)) << "a change of case only";
  EXPECT_EQ(Names(root.handle).count(u"PAGE.PG"), 1u);
  EXPECT_TRUE(Os().DeleteFileAt(root.handle, u"page.pg", nullptr));
  EXPECT_EQ(Names(root.handle).count(u"PAGE.PG"), 0u);
}

TEST(Folders, ReadOnlyAndHeldFilesAreRefused) {
  TempFolder t;
  t.Write("f.txt", "content");
  Folder root(OpenRoot(t));
  const FolderHandle r = root.handle;
  Error error = Error::None;
  ASSERT_TRUE(Os().SetAttributesAt(r, u"f.txt", kAttrReadOnly, &error));
  EntryInfo info;
  ASSERT_TRUE(Os().StatAt(r, u"f.txt", &info, nullptr));
  EXPECT_EQ(info.attributes & (kAttrReadOnly | kAttrDirectory), kAttrReadOnly);
  for (Disposition disposition : {Disposition::OpenExisting, Disposition::CreateAlways}) {
    EXPECT_FALSE(File(Os().OpenFileAt(r, u"f.txt", Access::Write, Share::None, disposition, &error)).ok());
    EXPECT_EQ(error, Error::AccessDenied);
  }
  EXPECT_FALSE(Os().DeleteFileAt(r, u"f.txt", &error));
  EXPECT_EQ(error, Error::AccessDenied);
  ASSERT_TRUE(Os().SetAttributesAt(r, u"f.txt", kAttrNormal, nullptr));
  ASSERT_TRUE(Os().StatAt(r, u"f.txt", &info, nullptr));
  EXPECT_EQ(info.attributes & kAttrReadOnly, 0u);

  {
    File holder(Os().OpenFileAt(r, u"f.txt", Access::Read, Share::Read, Disposition::OpenExisting, nullptr));
    ASSERT_TRUE(holder.ok());
    EXPECT_TRUE(File(Os().OpenFileAt(r, u"f.txt", Access::Read, Share::Read, Disposition::OpenExisting, nullptr)).ok());
    EXPECT_FALSE(File(Os().OpenFileAt(r, u"f.txt", Access::Read, Share::None, Disposition::OpenExisting, &error)).ok());
    EXPECT_EQ(error, Error::SharingViolation);
    EXPECT_FALSE(Os().DeleteFileAt(r, u"f.txt", &error));
    EXPECT_EQ(error, Error::SharingViolation);
    EXPECT_FALSE(Os().MoveFileAt(r, u"f.txt", u"g.txt", &error));
    EXPECT_EQ(error, Error::SharingViolation);
    EXPECT_FALSE(
        File(Os().OpenFileAt(r, u"f.txt", Access::Write, Share::None, Disposition::CreateAlways, &error)).ok());
    EXPECT_EQ(t.Read("f.txt"), "content") << "a held file is never emptied";
  }
  EXPECT_TRUE(Os().DeleteFileAt(r, u"f.txt", nullptr));
}

TEST(Folders, FactsListingAndNamesThatWouldLeaveTheFolder) {
  TempFolder t;
  fs::create_directory(t.Root() / "sub");
  t.Write("sub/a.txt", "12345");
  t.Write("sub/b.txt", "");
  t.Write("secret.txt", "outside");
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(1000000000));
  fs::last_write_time(t.Root() / "sub" / "a.txt", std::chrono::file_clock::from_sys(when));
  Folder root(OpenRoot(t));
  Folder sub(Os().OpenSubFolder(root.handle, u"sub", nullptr));
  ASSERT_TRUE(sub.ok());

  EntryInfo a, b, moved;
  ASSERT_TRUE(Os().StatAt(sub.handle, u"a.txt", &a, nullptr));
  ASSERT_TRUE(Os().StatAt(sub.handle, u"b.txt", &b, nullptr));
  EXPECT_EQ(a.size, 5u);
  EXPECT_EQ(a.modified, 1000000000);
  EXPECT_EQ(a.attributes & (kAttrReadOnly | kAttrDirectory), 0u);
  EXPECT_NE(a.fileId, b.fileId);
  ASSERT_TRUE(Os().MoveFileAt(sub.handle, u"a.txt", u"c.txt", nullptr));
  ASSERT_TRUE(Os().StatAt(sub.handle, u"c.txt", &moved, nullptr));
  EXPECT_EQ(moved.fileId, a.fileId) << "the same file under its new name";

  int visits = 0;
  EXPECT_TRUE(Os().ListFolder(sub.handle, [&](const FolderEntry&) { return ++visits, false; }, nullptr));
  EXPECT_EQ(visits, 1) << "the visitor stops the listing";
  EXPECT_EQ(Names(sub.handle), (std::set<Str>{u"b.txt", u"c.txt"})) << "no \".\" or \"..\"";

  Error error = Error::None;
  EXPECT_FALSE(Os().StatAt(sub.handle, u"missing", &a, &error));
  EXPECT_EQ(error, Error::NotFound);
#ifdef _WIN32
  EXPECT_NE(Os().LastErrorText().find(u"(error 2)"), Str::npos);
#else
  EXPECT_NE(Os().LastErrorText().find(u"(errno 2)"), Str::npos);
#endif

  const Str outside[] = {u"", u".", u"..", Str(u"..") + kPathSep + u"secret.txt", u"a/b",
#ifdef _WIN32
                         u"b.txt:stream",
#endif
  };
  for (const Str& name : outside) {
    EXPECT_FALSE(File(Os().OpenFileAt(sub.handle, name, Access::Read, Share::Read, Disposition::OpenExisting,
                                      &error)).ok());
    EXPECT_EQ(error, Error::InvalidArgument);
    EXPECT_FALSE(Os().DeleteFileAt(sub.handle, name, &error));
    EXPECT_EQ(error, Error::InvalidArgument);
    EXPECT_FALSE(Os().MoveFileAt(sub.handle, u"b.txt", name, &error));
    EXPECT_EQ(error, Error::InvalidArgument);
    EXPECT_EQ(Os().OpenSubFolder(sub.handle, name, &error), kInvalidFolder);
    EXPECT_EQ(error, Error::InvalidArgument);
  }
  EXPECT_EQ(t.Read("secret.txt"), "outside");
  EXPECT_EQ(Names(sub.handle), (std::set<Str>{u"b.txt", u"c.txt"}));
}

}  // namespace
}  // namespace es::platform
