// The POSIX backend. Windows semantics the core relies on, and how they are had here:
//
// - Sharing: an open with Share::None takes flock(LOCK_EX | LOCK_NB) on its own
//   descriptor, Share::Read takes flock(LOCK_SH | LOCK_NB); a lock that cannot be had is a
//   sharing violation. This excludes every opener that follows the same convention (this
//   module, eshost, esproduce), not programs that open files without locking.
//   CreateAlways opens without truncating, locks, and only then truncates, so a file
//   somebody holds is never emptied under them.
// - Delete and rename refuse a regular file another opener holds locked, as Windows
//   refuses a file that is open without delete sharing.
// - Read-only attribute: a file without any write permission bit. Deleting it or opening
//   it for writing fails with AccessDenied, even for root. Clearing the attribute adds
//   the owner's write permission.
// - Names are compared without regard to case: when the exact name is missing, each
//   path component falls back to an entry of its folder that differs only in case.
// - Only regular files open as files: a directory gives AccessDenied like CreateFileW,
//   and a FIFO or device is refused rather than left to block the import.
// - CreateNew is O_CREAT | O_EXCL | O_NOFOLLOW: it never opens an existing entry, nor
//   creates a file at the end of a link.
// - Listing patterns use Windows wildcards (see Names.h); "." and ".." are reported.
// - Folders of a storage are reached through descriptors (PosixFolders.cpp).
// - Every failure is kept as the thread's last one, in the OS's words with the errno.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <utility>

#include "es/Bstr.h"
#include "platform/PlatformInternal.h"
#include "platform/posix/Names.h"
#include "platform/posix/PosixBackend.h"
#include "platform/posix/PosixFiles.h"

namespace es::platform {
namespace posix {
namespace {

std::string Native(const Str& path) { return ResolveCase(EncodeName(path)); }

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

class PosixPlatform final : public IPlatform {
 public:
  FileHandle OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                      Error* error) override {
    const std::string name = Native(path);
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (access == Access::Read ? O_RDONLY : O_WRONLY);
    if (disposition == Disposition::CreateAlways) flags |= O_CREAT;
    // A new file is never made at the end of a link, dangling or not.
    if (disposition == Disposition::CreateNew) flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
    int raw;
    do raw = open(name.c_str(), flags, 0666);
    while (raw < 0 && errno == EINTR);
    if (raw < 0) return FailOpen(error, FromErrno(errno), errno);
    Descriptor fd(raw);
    return FinishOpen(fd, access, share, disposition, Error::AccessDenied, error);
  }

  bool FileSize(FileHandle file, std::uint64_t* size) override {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Seek(FileHandle file, std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
  }

  bool Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) override {
    *got = 0;
    if (count > SSIZE_MAX) count = SSIZE_MAX;
    ssize_t result;
    do result = read(static_cast<int>(file), buffer, count);
    while (result < 0 && errno == EINTR);
    if (result < 0) return Fail(nullptr, Error::Io, errno);
    *got = static_cast<std::size_t>(result);
    return true;
  }

  bool Write(FileHandle file, const void* buffer, std::size_t count) override {
    const char* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
      const ssize_t result = write(static_cast<int>(file), bytes, count > SSIZE_MAX ? SSIZE_MAX : count);
      if (result < 0 && errno == EINTR) continue;
      if (result < 0) return Fail(nullptr, Error::Io, errno);
      if (result == 0) return Fail(nullptr, Error::Io, 0, "nothing was written");
      bytes += result;
      count -= static_cast<std::size_t>(result);
    }
    return true;
  }

  void Close(FileHandle file) override {
    if (file != kInvalidFile) close(static_cast<int>(file));
  }

  bool DeleteFile(const Str& path, Error* error) override {
    const std::string name = Native(path);
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return Fail(error, FromErrno(errno), errno);
    if (S_ISDIR(st.st_mode)) return Fail(error, Error::AccessDenied, EISDIR);
    if (S_ISREG(st.st_mode)) {
      if (IsReadOnly(st)) return Fail(error, Error::AccessDenied, 0, "the file is read-only");
      if (HeldByAnother(AT_FDCWD, name.c_str())) {
        return Fail(error, Error::SharingViolation, 0, "another opener holds the file");
      }
    }
    if (unlink(name.c_str()) != 0) return Fail(error, FromErrno(errno), errno);
    if (error) *error = Error::None;
    return true;
  }

  bool RemoveDirectory(const Str& path, Error* error) override {
    const std::string name = Native(path);
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return Fail(error, FromErrno(errno), errno);
    if (!S_ISDIR(st.st_mode)) return Fail(error, Error::InvalidArgument, ENOTDIR);  // ERROR_DIRECTORY
    if (IsReadOnly(st)) return Fail(error, Error::AccessDenied, 0, "the folder is read-only");
    if (rmdir(name.c_str()) != 0) {
      return Fail(error, errno == EEXIST || errno == ENOTEMPTY ? Error::NotEmpty : FromErrno(errno), errno);
    }
    if (error) *error = Error::None;
    return true;
  }

  bool MoveFile(const Str& from, const Str& to, Error* error) override {
    const std::string source = Native(from);
    struct stat sourceStat;
    if (lstat(source.c_str(), &sourceStat) != 0) return Fail(error, FromErrno(errno), errno);
    // A target that differs from an existing entry only in case is taken, unless that
    // entry is the source itself (a rename that changes only the case).
    std::string target = EncodeName(to);
    const std::string existing = ResolveCase(target);
    struct stat targetStat;
    if (lstat(existing.c_str(), &targetStat) == 0) {
      if (targetStat.st_dev != sourceStat.st_dev || targetStat.st_ino != sourceStat.st_ino || existing == target) {
        return Fail(error, Error::AlreadyExists, EEXIST);
      }
      const std::size_t slash = existing.find_last_of('/');
      const std::size_t targetSlash = target.find_last_of('/');
      target = (slash == std::string::npos ? std::string() : existing.substr(0, slash + 1)) +
               (targetSlash == std::string::npos ? target : target.substr(targetSlash + 1));
    } else {
      target = existing;
    }
    if (S_ISREG(sourceStat.st_mode) && HeldByAnother(AT_FDCWD, source.c_str())) {
      return Fail(error, Error::SharingViolation, 0, "another opener holds the file");
    }
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      if (error) *error = Error::None;
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(error, FromErrno(errno), errno);
    // The file system cannot rename without replacing: a hard link cannot replace either.
    if (!S_ISDIR(sourceStat.st_mode)) {
      if (link(source.c_str(), target.c_str()) != 0) return Fail(error, FromErrno(errno), errno);
      unlink(source.c_str());
    } else {
      struct stat probe;
      if (lstat(target.c_str(), &probe) == 0) return Fail(error, Error::AlreadyExists, EEXIST);
      if (rename(source.c_str(), target.c_str()) != 0) return Fail(error, FromErrno(errno), errno);
    }
    if (error) *error = Error::None;
    return true;
  }

  bool CreateDirectory(const Str& path, Error* error) override {
    const std::string name = Native(path);
    struct stat st;
    if (lstat(name.c_str(), &st) == 0) return Fail(error, Error::AlreadyExists, EEXIST);
    if (mkdir(name.c_str(), 0777) != 0) return Fail(error, FromErrno(errno), errno);
    if (error) *error = Error::None;
    return true;
  }

  bool GetAttributes(const Str& path, std::uint32_t* attributes) override {
    struct stat st;
    if (stat(Native(path).c_str(), &st) != 0) return false;
    *attributes = AttributesOf(st);
    return true;
  }

  bool SetAttributes(const Str& path, std::uint32_t attributes) override {
    const std::string name = Native(path);
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return Fail(nullptr, Error::Io, errno);
    if (chmod(name.c_str(), ModeWithAttributes(st.st_mode, attributes)) != 0) return Fail(nullptr, Error::Io, errno);
    return true;
  }

  bool Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) override {
    const std::size_t sep = pattern.rfind(kPathSep);
    const Str mask = sep == Str::npos ? pattern : pattern.substr(sep + 1);
    if (mask.empty()) return false;
    const Str folder = sep == Str::npos ? Str(u".") : sep == 0 ? Str(u"/") : pattern.substr(0, sep);
    DirPtr dir(opendir(Native(folder).c_str()));
    if (!dir) return false;
    const int folderFd = dirfd(dir.get());
    while (const dirent* found = readdir(dir.get())) {
      DirEntry entry;
      entry.name = DecodeName(found->d_name);
      if (!MatchWildcard(mask, entry.name)) continue;
      // A directory's entry type is enough: counting the documents of large groups
      // lists nothing but folders, and a stat for each would double its cost.
      if (found->d_type == DT_DIR) {
        entry.attributes = kAttrDirectory;
        entry.isDirectory = true;
        if (!visit(entry)) break;
        continue;
      }
      struct stat st;
      if (fstatat(folderFd, found->d_name, &st, 0) == 0 ||
          fstatat(folderFd, found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.attributes = AttributesOf(st);
      } else {
        entry.attributes = found->d_type == DT_DIR ? kAttrDirectory : kAttrNormal;
      }
      entry.isDirectory = (entry.attributes & kAttrDirectory) != 0;
      if (!visit(entry)) break;
    }
    return true;
  }

  FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) override {
    return posix::OpenFolder(path, followLink, error);
  }
  FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) override {
    return posix::OpenSubFolder(parent, name, error);
  }
  void CloseFolder(FolderHandle folder) override { posix::CloseFolder(folder); }
  bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit,
                  Error* error) override {
    return posix::ListFolder(folder, visit, error);
  }
  bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) override {
    return posix::StatAt(folder, name, info, error);
  }
  FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                        Error* error) override {
    return posix::OpenFileAt(folder, name, access, share, disposition, error);
  }
  bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) override {
    return posix::DeleteFileAt(folder, name, error);
  }
  bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) override {
    return posix::RemoveFolderAt(parent, name, error);
  }
  bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) override {
    return posix::MoveFileAt(folder, from, to, error);
  }
  bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) override {
    return posix::SetAttributesAt(folder, name, attributes, error);
  }
  Str LastErrorText() override { return LastFailureText(); }

  Str AnsiToUtf16(const char* bytes, std::size_t count) override { return posix::AnsiToUtf16(bytes, count); }
  bool Utf16ToAnsi(const Str& text, std::string* bytes) override { return posix::Utf16ToAnsi(text, bytes); }

  bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) override {
    return posix::ExpandEnvironment(text, capacity, expanded);
  }
  bool UserName(std::size_t capacity, Str* name) override { return posix::UserName(capacity, name); }
  bool ComputerName(std::size_t capacity, Str* name) override { return posix::ComputerName(capacity, name); }
  void* ModuleHandleByName(const Str& name) override { return posix::ModuleHandleByName(name); }
  Str ModuleFileName(void* module) override { return posix::ModuleFileName(module); }

  std::int64_t UnixTime() override { return static_cast<std::int64_t>(std::time(nullptr)); }

  int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) override {
    return posix::LoadString(resourceModule, id, buffer, capacity);
  }
};

}  // namespace
}  // namespace posix

namespace detail {
IPlatform& CreateNativeBackend() {
  // Destroyed when the module unloads, so that an unloaded module leaves nothing behind.
  static posix::PosixPlatform backend;
  return backend;
}
}  // namespace detail

// The host boundary's own allocation: see es/Bstr.h.
char16_t* BstrAlloc(const char16_t* text, std::size_t length) { return bstr::Alloc(text, length); }
void BstrFree(char16_t* text) { bstr::Free(text); }

}  // namespace es::platform
