// Folders of a storage on Windows. A folder handle is a directory handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT; every entry is opened relative to it (NtCreateFile with
// the folder as RootDirectory) with FILE_OPEN_REPARSE_POINT, so a symbolic link or
// junction is opened as itself and recognised by its attributes, never followed. Deletion
// and renaming go through a handle of the entry itself, so a link goes, not its target.
// Folder handles and the entry handles that delete or rename share everything, so that
// holding a folder never stands in the way of cleaning it up; files open with the share
// modes of OpenFile.
#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <vector>

#include "platform/win32/Win32Backend.h"

namespace es::platform::win32 {
namespace {

constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BB);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);

// Information classes of NtSetInformationFile that not every header names.
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto kFileDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr auto kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

HANDLE H(FolderHandle folder) { return reinterpret_cast<HANDLE>(folder); }

class Handle {
 public:
  Handle() = default;
  ~Handle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

bool FailStatus(Error* error, NTSTATUS status) { return Fail(error, RtlNtStatusToDosError(status)); }

// One entry of a folder: not empty, not "." or "..", no separator, no stream name.
// Anything else could reach outside the folder.
bool EntryName(const Str& name, Error* error) {
  bool plain = !name.empty() && name != u"." && name != u".." && name.size() < 32767;
  for (char16_t unit : name) plain = plain && unit != u'\\' && unit != u'/' && unit != u':' && unit != 0;
  return plain || Refuse(error, Error::InvalidArgument, u"not the name of an entry of the folder");
}

// NtCreateFile of entry `name` of `folder` (an empty name: the folder again), never
// through a reparse point, for synchronous I/O as CreateFileW gives it.
NTSTATUS OpenAt(HANDLE folder, const Str& name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                Handle* out) {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(W(name));
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status;
  return NtCreateFile(out->out(), access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                      disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

bool Facts(HANDLE handle, BY_HANDLE_FILE_INFORMATION* facts, Error* error) {
  return GetFileInformationByHandle(handle, facts) || Fail(error, Error::Io, GetLastError());
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

EntryType TypeOf(DWORD attributes) {
  if (IsLink(attributes)) return EntryType::Link;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryType::Folder : EntryType::File;
}

bool RefuseLink(Error* error) { return Refuse(error, Error::IsLink, u"the entry is a link; it is not followed"); }

// Why entry `name` could not be opened as the kind wanted (STATUS_NOT_A_DIRECTORY or
// STATUS_FILE_IS_A_DIRECTORY): a link of the other kind, or an entry of the other kind.
bool FailKind(HANDLE folder, const Str& name, Error* error) {
  Handle entry;
  BY_HANDLE_FILE_INFORMATION facts;
  if (OpenAt(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, &entry) == 0 &&
      GetFileInformationByHandle(entry.get(), &facts) && IsLink(facts.dwFileAttributes)) {
    return RefuseLink(error);
  }
  return Refuse(error, Error::WrongType, u"the entry is of another kind");
}

// Marks the entry open in `entry` for deletion: at once where the file system can
// (POSIX semantics), else when the last handle closes.
bool Dispose(HANDLE entry, Error* error) {
  IO_STATUS_BLOCK io;
  ULONG flags = kDispositionDelete | kDispositionPosixSemantics;
  NTSTATUS status = NtSetInformationFile(entry, &io, &flags, sizeof flags, kFileDispositionInformationEx);
  if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented || status == kStatusInvalidParameter ||
      status == kStatusNotSupported) {
    BOOLEAN remove = TRUE;
    status = NtSetInformationFile(entry, &io, &remove, sizeof remove, kFileDispositionInformation);
  }
  return status == 0 || FailStatus(error, status);
}

// Opens entry `name` of `folder` for deletion or renaming, not through a link. Another
// opener that did not share deletion makes this a sharing violation, as DeleteFileW.
bool OpenForChange(HANDLE folder, const Str& name, Handle* entry, BY_HANDLE_FILE_INFORMATION* facts, Error* error) {
  if (!EntryName(name, error)) return false;
  const NTSTATUS status = OpenAt(folder, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, entry);
  if (status != 0) return FailStatus(error, status);
  return Facts(entry->get(), facts, error);
}

std::int64_t UnixSeconds(const FILETIME& time) {
  const std::int64_t ticks = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10000000;  // 100 ns ticks since 1601
}

bool Succeed(Error* error) {
  if (error) *error = Error::None;
  return true;
}

}  // namespace

FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) {
  Str name = path;
  // Without its trailing separator, but "C:\" stays the root of C:.
  while (name.size() > 1 && (name.back() == u'\\' || name.back() == u'/') && name[name.size() - 2] != u':') {
    name.pop_back();
  }
  Handle folder;
  *folder.out() = CreateFileW(W(name), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (folder.get() == INVALID_HANDLE_VALUE) return Fail(error, GetLastError()), kInvalidFolder;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!Facts(folder.get(), &facts, error)) return kInvalidFolder;
  if (IsLink(facts.dwFileAttributes)) return RefuseLink(error), kInvalidFolder;
  if (!(facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Refuse(error, Error::WrongType, u"not a folder"), kInvalidFolder;
  }
  Succeed(error);
  return reinterpret_cast<FolderHandle>(folder.release());
}

FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) {
  if (!EntryName(name, error)) return kInvalidFolder;
  Handle folder;
  const NTSTATUS status = OpenAt(H(parent), name, kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &folder);
  if (status == kStatusNotADirectory) return FailKind(H(parent), name, error), kInvalidFolder;
  if (status != 0) return FailStatus(error, status), kInvalidFolder;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!Facts(folder.get(), &facts, error)) return kInvalidFolder;
  if (IsLink(facts.dwFileAttributes)) return RefuseLink(error), kInvalidFolder;
  Succeed(error);
  return reinterpret_cast<FolderHandle>(folder.release());
}

void CloseFolder(FolderHandle folder) {
  if (folder != kInvalidFolder) CloseHandle(H(folder));
}

bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit, Error* error) {
  // A handle of its own: a listing keeps its position in the handle, and two listings of
  // one folder must not share one.
  Handle listing;
  const NTSTATUS status = OpenAt(H(folder), Str(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
                                 &listing);
  if (status != 0) return FailStatus(error, status);
  std::vector<std::uint64_t> buffer(64 * 1024 / sizeof(std::uint64_t));
  const std::size_t size = buffer.size() * sizeof(std::uint64_t);
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
  constexpr std::size_t kHead = offsetof(FILE_FULL_DIR_INFO, FileName);
  for (bool first = true;; first = false) {
    if (!GetFileInformationByHandleEx(listing.get(), first ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo,
                                      buffer.data(), static_cast<DWORD>(size))) {
      const DWORD code = GetLastError();
      if (code == ERROR_NO_MORE_FILES || (first && code == ERROR_FILE_NOT_FOUND)) break;
      // The folder is open: whatever went wrong, it is not that the folder is missing.
      const Error reason = FromLastError(code);
      return Fail(error, reason == Error::NotFound ? Error::Io : reason, code);
    }
    for (std::size_t offset = 0;;) {
      if (size - offset < kHead) return Refuse(error, Error::Io, u"malformed folder listing");
      const auto* found = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + offset);
      if (found->FileNameLength > size - offset - kHead) return Refuse(error, Error::Io, u"malformed folder listing");
      FolderEntry entry;
      entry.name.assign(reinterpret_cast<const char16_t*>(found->FileName), found->FileNameLength / sizeof(wchar_t));
      if (entry.name != u"." && entry.name != u"..") {
        entry.type = TypeOf(found->FileAttributes);
        if (!visit(entry)) return Succeed(error);
      }
      if (found->NextEntryOffset == 0) break;
      offset += found->NextEntryOffset;
    }
  }
  return Succeed(error);
}

bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) {
  if (!EntryName(name, error)) return false;
  Handle entry;
  const NTSTATUS status = OpenAt(H(folder), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, &entry);
  if (status != 0) return FailStatus(error, status);
  BY_HANDLE_FILE_INFORMATION facts;
  if (!Facts(entry.get(), &facts, error)) return false;
  info->type = TypeOf(facts.dwFileAttributes);
  info->size = (static_cast<std::uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  info->modified = UnixSeconds(facts.ftLastWriteTime);
  info->fileId = (static_cast<std::uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
  std::uint32_t attributes = 0;
  if (info->type != EntryType::Link && (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) attributes = kAttrReadOnly;
  if (info->type == EntryType::Folder) attributes |= kAttrDirectory;
  info->attributes = attributes ? attributes : kAttrNormal;
  return Succeed(error);
}

FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                      Error* error) {
  if (!EntryName(name, error)) return kInvalidFile;
  // CreateAlways opens without truncating: the entry is looked at first, so that a link is
  // never replaced by a file, and only a regular file of ours is emptied.
  const ULONG create = disposition == Disposition::OpenExisting ? FILE_OPEN
                       : disposition == Disposition::CreateNew  ? FILE_CREATE
                                                                : FILE_OPEN_IF;
  Handle file;
  const NTSTATUS status =
      OpenAt(H(folder), name, (access == Access::Read ? GENERIC_READ : GENERIC_WRITE) | FILE_READ_ATTRIBUTES,
             share == Share::Read ? FILE_SHARE_READ : 0, create, FILE_NON_DIRECTORY_FILE, &file);
  if (status == kStatusFileIsADirectory) return FailKind(H(folder), name, error), kInvalidFile;
  if (status != 0) return FailStatus(error, status), kInvalidFile;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!Facts(file.get(), &facts, error)) return kInvalidFile;
  if (IsLink(facts.dwFileAttributes)) return RefuseLink(error), kInvalidFile;
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    return Refuse(error, Error::WrongType, u"not a regular file"), kInvalidFile;
  }
  // Windows refuses to write a read-only file even to administrators; say so for file
  // systems underneath that would let a privileged user write anyway.
  if ((access == Access::Write || disposition == Disposition::CreateAlways) &&
      (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) && disposition != Disposition::CreateNew) {
    return Refuse(error, Error::AccessDenied, u"the file is read-only"), kInvalidFile;
  }
  if (disposition == Disposition::CreateAlways && (facts.nFileSizeHigh | facts.nFileSizeLow) != 0) {
    FILE_END_OF_FILE_INFO end{};
    if (!SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end)) {
      return Fail(error, GetLastError()), kInvalidFile;
    }
  }
  Succeed(error);
  return reinterpret_cast<FileHandle>(file.release());
}

bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) {
  Handle entry;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!OpenForChange(H(folder), name, &entry, &facts, error)) return false;
  if (!IsLink(facts.dwFileAttributes)) {
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Refuse(error, Error::WrongType, u"a folder");
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      return Refuse(error, Error::AccessDenied, u"the file is read-only");
    }
  }
  return Dispose(entry.get(), error) && Succeed(error);
}

bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) {
  Handle entry;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!OpenForChange(H(parent), name, &entry, &facts, error)) return false;
  if (!IsLink(facts.dwFileAttributes)) {
    if (!(facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Refuse(error, Error::WrongType, u"not a folder");
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      return Refuse(error, Error::AccessDenied, u"the folder is read-only");
    }
  }
  return Dispose(entry.get(), error) && Succeed(error);
}

bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) {
  if (!EntryName(to, error)) return false;
  Handle entry;
  BY_HANDLE_FILE_INFORMATION facts;
  if (!OpenForChange(H(folder), from, &entry, &facts, error)) return false;
  // The new name is relative to the same folder handle, never to a path looked up again.
  const std::size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (to.size() + 1) * sizeof(wchar_t);
  std::vector<std::uint64_t> buffer((bytes + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = H(folder);
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), reinterpret_cast<char16_t*>(rename->FileName));
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      NtSetInformationFile(entry.get(), &io, rename, static_cast<ULONG>(bytes), kFileRenameInformation);
  return status == 0 ? Succeed(error) : FailStatus(error, status);
}

bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) {
  if (!EntryName(name, error)) return false;
  Handle entry;
  const NTSTATUS status = OpenAt(H(folder), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                                 FILE_NON_DIRECTORY_FILE, &entry);
  if (status == kStatusFileIsADirectory) return FailKind(H(folder), name, error);
  if (status != 0) return FailStatus(error, status);
  BY_HANDLE_FILE_INFORMATION facts;
  if (!Facts(entry.get(), &facts, error)) return false;
  if (IsLink(facts.dwFileAttributes)) return RefuseLink(error);
  // As SetFileAttributesW(kAttrReadOnly or kAttrNormal) sets them; zero times stay as they are.
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = (attributes & kAttrReadOnly) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic)) return Fail(error, GetLastError());
  return Succeed(error);
}

}  // namespace es::platform::win32
