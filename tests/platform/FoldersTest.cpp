// Folder handles: what each call does with each kind of entry, that no call follows a
// link or touches what a link points at, that a held folder stays the folder it was, and
// the Windows rules (case, names that would leave the folder) relative to a folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "TempFolder.h"

namespace es::platform {
namespace {

namespace fs = std::filesystem;
using testing::File;
using testing::Folder;
using testing::TempFolder;

bool UnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports its version; Windows' does not.
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Makes `link` point at `target` (relative to the link's folder). Empty when done, else
// why this system cannot.
std::string MakeLink(const TempFolder& t, const fs::path& link, const fs::path& target, bool folder) {
#ifdef _WIN32
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (!CreateSymbolicLinkW((t.Root() / link).c_str(), target.c_str(), flags))
    return "symbolic links cannot be made here (error " + std::to_string(GetLastError()) + ")";
  const DWORD attributes = GetFileAttributesW((t.Root() / link).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return "CreateSymbolicLinkW reports success but makes no link (Wine)";
#else
  std::error_code error;
  const fs::path path = t.Root() / link;
  folder ? fs::create_directory_symlink(target, path, error) : fs::create_symlink(target, path, error);
  if (error) return error.message();
#endif
  return {};
}

enum class Kind { File, Folder, FileLink, FolderLink, DanglingLink, Fifo, Missing };

// The entry "e" of kind `kind`, beside the link targets "target.txt" and "targetdir".
std::string MakeEntry(const TempFolder& t, Kind kind) {
  t.Write("target.txt", "outside");
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

std::string ReadAll(FolderHandle folder, const Str& name) {
  return testing::ReadRest(
      File(Os().OpenFileAt(folder, name, Access::Read, Share::Read, Disposition::OpenExisting, nullptr)).handle);
}

std::set<Str> Names(FolderHandle folder) {
  std::set<Str> names;
  Os().ListFolder(folder, [&](const FolderEntry& entry) { return names.insert(entry.name), true; }, nullptr);
  return names;
}

// What a call does to "e" when it succeeds.
enum Effect { kKeeps, kMakes, kTakesAway, kMoves };

// Reads an entry that is to exist, else writes it alone.
void OpenAt(FolderHandle root, Disposition disposition, Error* error) {
  const bool read = disposition == Disposition::OpenExisting;
  File(Os().OpenFileAt(root, u"e", read ? Access::Read : Access::Write, read ? Share::Read : Share::None, disposition,
                       error));
}

using T = const TempFolder&;
using enum Disposition;
const struct Call {
  const char* name;
  Effect effect;
  void (*perform)(T, FolderHandle, Error*);  // closes what it opens at once
} kCalls[] = {
    {"OpenFileAt read", kKeeps, [](T, FolderHandle r, Error* e) { OpenAt(r, OpenExisting, e); }},
    {"OpenFileAt CreateAlways", kMakes, [](T, FolderHandle r, Error* e) { OpenAt(r, CreateAlways, e); }},
    {"OpenFileAt CreateNew", kMakes, [](T, FolderHandle r, Error* e) { OpenAt(r, CreateNew, e); }},
    // The path call, held to the same rule as the folder call.
    {"OpenFile CreateNew", kMakes,
     [](T t, FolderHandle, Error* e) { File(Os().OpenFile(t.Path(u"e"), Access::Write, Share::None, CreateNew, e)); }},
    {"OpenSubFolder", kKeeps, [](T, FolderHandle r, Error* e) { Folder(Os().OpenSubFolder(r, u"e", e)); }},
    {"OpenFolder with a trailing separator", kKeeps,
     [](T t, FolderHandle, Error* e) { Folder(Os().OpenFolder(t.Path(u"e") + kPathSep, false, e)); }},
    {"OpenFolder following", kKeeps,
     [](T t, FolderHandle, Error* e) { Folder(Os().OpenFolder(t.Path(u"e"), true, e)); }},
    {"SetAttributesAt", kKeeps, [](T, FolderHandle r, Error* e) { Os().SetAttributesAt(r, u"e", kAttrReadOnly, e); }},
    {"DeleteFileAt", kTakesAway, [](T, FolderHandle r, Error* e) { Os().DeleteFileAt(r, u"e", e); }},
    {"RemoveFolderAt", kTakesAway, [](T, FolderHandle r, Error* e) { Os().RemoveFolderAt(r, u"e", e); }},
    {"MoveFileAt", kMoves, [](T, FolderHandle r, Error* e) { Os().MoveFileAt(r, u"e", u"moved", e); }},
};
constexpr std::size_t kCallCount = std::size(kCalls);

struct Row {
  Kind kind;
  const char* name;
  EntryType type;  // as StatAt and ListFolder report it
  Error expected[kCallCount];
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
  for (std::size_t c = 0; c < kCallCount; ++c) {
    const Call& call = kCalls[c];
    SCOPED_TRACE(call.name);
    TempFolder t;
    const std::string unavailable = MakeEntry(t, row.kind);
    if (!unavailable.empty()) GTEST_SKIP() << unavailable;
    Folder root(Os().OpenFolder(t.Path(), false, nullptr));
    ASSERT_TRUE(root.ok());
    EntryInfo info;
    Error error = Error::None;
    if (c == 0) {  // the facts and listing of the entry itself, never of what a link points at
      const bool found = Os().StatAt(root.handle, u"e", &info, &error);
      EXPECT_EQ(std::pair(found ? info.type : EntryType::Other, error), std::pair(row.type, found ? N : Nf));
      std::vector<EntryType> listed;
      ASSERT_TRUE(Os().ListFolder(root.handle, [&](const FolderEntry& entry) {
        if (entry.name == u"e") listed.push_back(entry.type);
        return true;
      }, &error));
      EXPECT_EQ(listed, found ? std::vector{row.type} : std::vector<EntryType>{});
      EXPECT_EQ(found, row.kind != Kind::Missing);
    }
    error = Error::None;
    call.perform(t, root.handle, &error);
    EXPECT_EQ(error, row.expected[c]);
    EXPECT_TRUE(error == Error::None || !Os().LastErrorText().empty());

    // Nothing a link points at is ever changed.
    EXPECT_EQ(t.Read("target.txt"), "outside");
    EXPECT_EQ(t.Read("targetdir/inner.txt"), "inner");
    EXPECT_FALSE(fs::exists(t.Root() / "nowhere"));

    // A refused call leaves the entry as it was; a deletion or move takes it away.
    // A refused call leaves the entry as it was; a deletion or move takes it away.
    const bool present = Os().StatAt(root.handle, u"e", &info, nullptr), done = error == Error::None;
    const bool gone = done && (call.effect == kTakesAway || call.effect == kMoves);
    EXPECT_EQ(present, row.kind == Kind::Missing ? done && call.effect == kMakes : !gone);
    EXPECT_TRUE(!present || row.kind == Kind::Missing || info.type == row.type);
    const bool moved = Os().StatAt(root.handle, u"moved", &info, nullptr) && info.type == row.type;
    EXPECT_EQ(moved, call.effect == kMoves && done) << "moved as it was";
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, EntryKinds, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(Folders, AHeldFolderStaysTheFolderItWasWhenItsPathIsSwapped) {
  TempFolder t;
  t.Write("doc/a.txt", "mine");
  t.Write("outside/a.txt", "theirs");
  t.Write("outside/b.txt", "theirs");
  Folder root(Os().OpenFolder(t.Path(), false, nullptr));
  Folder doc(Os().OpenSubFolder(root.handle, u"doc", nullptr));
  ASSERT_TRUE(doc.ok());

  // The storage's writer renames the folder away and puts a link to elsewhere in its
  // place (where links cannot be made, another folder).
  fs::rename(t.Root() / "doc", t.Root() / "old");
  const std::string noLink = MakeLink(t, "doc", "outside", true);
  if (!noLink.empty()) t.Write("doc/a.txt", "theirs");

  EXPECT_EQ(Names(doc.handle), std::set<Str>{u"a.txt"});
  EXPECT_EQ(ReadAll(doc.handle, u"a.txt"), "mine");
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

// By path (every part of it) and relative to a folder alike.
TEST(Folders, NamesAreFoundWithoutRegardToCase) {
  TempFolder t;
  t.Write("Doc/Page.PG", "p");
  t.Write("other", "o");
  fs::create_directory(t.Root() / "Sub");
  Folder root(Os().OpenFolder(t.Path(), false, nullptr));
  Folder doc(Os().OpenSubFolder(root.handle, u"DOC", nullptr));
  ASSERT_TRUE(doc.ok());
  const Str page = t.Path(u"doc") + kPathSep + u"page.pg";
  EntryInfo info;
  ASSERT_TRUE(Os().StatAt(doc.handle, u"page.pg", &info, nullptr));
  EXPECT_EQ(info.type, EntryType::File);
  EXPECT_EQ(ReadAll(doc.handle, u"PAGE.PG"), "p");
  Error error = Error::None;
  {
    File held(Os().OpenFile(page, Access::Read, Share::None, Disposition::OpenExisting, nullptr));
    EXPECT_EQ(testing::ReadRest(held.handle), "p");
    EXPECT_FALSE(File(Os().OpenFileAt(doc.handle, u"Page.PG", Access::Read, Share::Read, Disposition::OpenExisting,
                                      &error)).ok()) << "the lock is on the file found, so the exact name is shut out";
    EXPECT_EQ(error, Error::SharingViolation);
  }
  const struct { const char* name; std::function<bool(Error*)> call; } existing[] = {
      {"OpenFileAt CreateNew", [&](Error* e) { return File(Os().OpenFileAt(doc.handle, u"page.PG", Access::Write,
                                                                             Share::None, CreateNew, e)).ok(); }},
      {"OpenFile CreateNew", [&](Error* e) { return File(Os().OpenFile(page, Access::Write, Share::None, CreateNew,
                                                                         e)).ok(); }},
      {"MoveFileAt onto a folder", [&](Error* e) { return Os().MoveFileAt(root.handle, u"other", u"doc", e); }},
      {"MoveFile", [&](Error* e) { return Os().MoveFile(t.Path(u"other"), page, e); }},
      {"CreateDirectory", [&](Error* e) { return Os().CreateDirectory(t.Path(u"DOC"), e); }},
  };
  for (const auto& call : existing) {
    EXPECT_FALSE(call.call(&error)) << call.name;
    EXPECT_EQ(error, Error::AlreadyExists) << call.name;
  }
  // Creating under another case replaces the file that is there, as on Windows.
  EXPECT_TRUE(File(Os().OpenFile(page, Access::Write, Share::None, CreateAlways, nullptr)).ok());
  EXPECT_EQ(t.Read("Doc/Page.PG"), "");
  EXPECT_TRUE(Folder(Os().OpenSubFolder(root.handle, u"SUB", nullptr)).ok());
  EXPECT_TRUE(Os().RemoveFolderAt(root.handle, u"sUB", nullptr));
  EXPECT_TRUE(Os().DeleteFile(t.Path(u"OTHER"), nullptr));
  EXPECT_EQ(Names(root.handle), std::set<Str>{u"Doc"});
  EXPECT_EQ(Names(doc.handle), std::set<Str>{u"Page.PG"});
#ifndef _WIN32
  // Where the file system tells case apart, the exact name comes first.
  t.Write("x.txt", "lower");
  t.Write("X.TXT", "upper");
  EXPECT_EQ(ReadAll(root.handle, u"x.txt"), "lower");
  EXPECT_EQ(ReadAll(root.handle, u"X.TXT"), "upper");
  // A name that is not UTF-8 comes back from the listing in a form that finds it again.
  t.Write("\xff\xfe.pg", "raw");
  const Str raw = u"\xdcff\xdcfe.pg";
  EXPECT_EQ(Names(root.handle).count(raw), 1u);
  EXPECT_EQ(ReadAll(root.handle, raw), "raw");
  EXPECT_TRUE(Os().DeleteFileAt(root.handle, raw, nullptr));
  EXPECT_FALSE(fs::exists(t.Root() / "\xff\xfe.pg"));
#endif
  if (UnderWine()) GTEST_SKIP() << "Wine reports a change of case only as done but keeps the old case";
  EXPECT_TRUE(Os().MoveFileAt(doc.handle, u"page.pg", u"PAGE.PG", &error)) << "a change of case only";
  EXPECT_EQ(Names(doc.handle), std::set<Str>{u"PAGE.PG"});
  EXPECT_TRUE(Os().MoveFile(page, t.Path(u"Doc") + kPathSep + u"Page.pg", &error)) << "the same by path";
  EXPECT_EQ(Names(doc.handle), std::set<Str>{u"Page.pg"});
  EXPECT_TRUE(Os().DeleteFileAt(doc.handle, u"page.pg", nullptr));
  EXPECT_EQ(Names(doc.handle), std::set<Str>{});
}

TEST(Folders, FactsListingAndNamesThatWouldLeaveTheFolder) {
  TempFolder t;
  t.Write("sub/a.txt", "12345");
  t.Write("sub/b.txt", "");
  t.Write("secret.txt", "outside");
  const auto when = std::chrono::sys_seconds(std::chrono::seconds(1000000000));
  fs::last_write_time(t.Root() / "sub" / "a.txt", std::chrono::file_clock::from_sys(when));
  Folder root(Os().OpenFolder(t.Path(), false, nullptr));
  Folder sub(Os().OpenSubFolder(root.handle, u"sub", nullptr));
  ASSERT_TRUE(sub.ok());

  EntryInfo a, b, moved;
  ASSERT_TRUE(Os().StatAt(sub.handle, u"a.txt", &a, nullptr));
  ASSERT_TRUE(Os().StatAt(sub.handle, u"b.txt", &b, nullptr));
  EXPECT_EQ(std::tuple(a.type, a.size, a.modified, a.attributes & (kAttrReadOnly | kAttrDirectory)),
            std::tuple(EntryType::File, 5u, 1000000000, 0u));
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
  const auto refused = [&](bool done) { return !done && error == Error::InvalidArgument; };
  for (const Str& name : outside) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_TRUE(refused(
        File(Os().OpenFileAt(sub.handle, name, Access::Read, Share::Read, Disposition::OpenExisting, &error)).ok()));
    EXPECT_TRUE(refused(Os().DeleteFileAt(sub.handle, name, &error)));
    EXPECT_TRUE(refused(Os().MoveFileAt(sub.handle, u"b.txt", name, &error)));
    EXPECT_TRUE(refused(Folder(Os().OpenSubFolder(sub.handle, name, &error)).ok()));
  }
  EXPECT_EQ(t.Read("secret.txt"), "outside");
  EXPECT_EQ(Names(sub.handle), (std::set<Str>{u"b.txt", u"c.txt"}));
}

}  // namespace
}  // namespace es::platform
