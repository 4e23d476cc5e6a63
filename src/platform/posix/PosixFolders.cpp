// Folders of a storage on POSIX: a folder handle is a descriptor of the folder, and every
// entry is reached relative to it with O_NOFOLLOW or AT_SYMLINK_NOFOLLOW, so a link is
// seen as the link it is and a folder renamed or swapped after it was opened cannot lead
// elsewhere. Windows rules of the path calls hold here too: sharing as flock, read-only as
// missing write bits, names found without regard to case (exact name first).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/posix/Names.h"
#include "platform/posix/PosixBackend.h"
#include "platform/posix/PosixFiles.h"

namespace es::platform::posix {
namespace {

int Fd(FolderHandle folder) { return static_cast<int>(folder); }

FolderHandle FailFolder(Error* error, Error reason, int osError, const char* words = nullptr) {
  Fail(error, reason, osError, words);
  return kInvalidFolder;
}

// One entry of a folder: not empty, not "." or "..", no separator. Anything else could
// reach outside the folder.
bool EntryName(const Str& name, std::string* bytes, Error* error) {
  *bytes = EncodeName(name);
  if (bytes->empty() || *bytes == "." || *bytes == ".." || bytes->find('/') != std::string::npos ||
      bytes->find('\0') != std::string::npos) {
    return Fail(error, Error::InvalidArgument, 0, "not the name of an entry of the folder");
  }
  return true;
}

EntryType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::File;
  if (S_ISDIR(mode)) return EntryType::Folder;
  if (S_ISLNK(mode)) return EntryType::Link;
  return EntryType::Other;
}

// Why an open of entry `name` failed with `osError`: an O_NOFOLLOW open meets a link as
// ELOOP, or as ENOTDIR together with O_DIRECTORY; an entry of the wrong kind gives
// EISDIR, ENOTDIR, ENXIO (socket, FIFO without reader) or ENODEV.
Error OpenFailure(int folder, const char* name, int osError) {
  if (osError == ELOOP) return Error::IsLink;
  if (osError == EISDIR || osError == ENOTDIR || osError == ENXIO || osError == ENODEV) {
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      return S_ISLNK(st.st_mode) ? Error::IsLink : Error::WrongType;
    }
    return errno == ENOENT ? Error::NotFound : Error::Io;
  }
  return FromErrno(osError);
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The entry `name` of `folder`, found without regard to case, and its own facts.
bool Find(int folder, const Str& name, std::string* found, struct stat* st, Error* error) {
  std::string bytes;
  if (!EntryName(name, &bytes, error)) return false;
  *found = ResolveCaseAt(folder, bytes);
  if (fstatat(folder, found->c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) return Fail(error, FromErrno(errno), errno);
  return true;
}

}  // namespace

FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) {
  std::string name = ResolveCase(EncodeName(path));
  // A trailing separator would make the last component be followed even with O_NOFOLLOW.
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  if (name.empty()) return FailFolder(error, Error::InvalidArgument, 0, "empty path");
  const int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd >= 0) {
    Succeed(error);
    return fd;
  }
  const int osError = errno;
  if (osError == ENOTDIR || osError == ELOOP) {
    // The last component is a link, or not a folder, or a folder above it is missing.
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return FailFolder(error, FromErrno(errno), errno);
    if (S_ISLNK(st.st_mode) && !followLink) return FailFolder(error, Error::IsLink, osError);
    return FailFolder(error, Error::WrongType, osError);
  }
  return FailFolder(error, FromErrno(osError), osError);
}

FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) {
  std::string bytes;
  if (!EntryName(name, &bytes, error)) return kInvalidFolder;
  const std::string found = ResolveCaseAt(Fd(parent), bytes);
  const int fd = openat(Fd(parent), found.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int osError = errno;
    return FailFolder(error, OpenFailure(Fd(parent), found.c_str(), osError), osError);
  }
  Succeed(error);
  return fd;
}

void CloseFolder(FolderHandle folder) {
  if (folder != kInvalidFolder) close(Fd(folder));
}

bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit, Error* error) {
  // A descriptor of its own: the folder handle's position stays where it is, and two
  // listings of one folder do not disturb each other.
  const int listing = openat(Fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return Fail(error, FromErrno(errno), errno);
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(listing));
  if (!dir) {
    const int osError = errno;
    close(listing);
    return Fail(error, Error::Io, osError);
  }
  for (;;) {
    errno = 0;
    const dirent* found = readdir(dir.get());
    if (!found) {
      // The end, or a failure: a folder removed meanwhile is gone, anything else (EIO of
      // a network share) must not pass for the end of the listing.
      if (errno == 0) break;
      return Fail(error, errno == ENOENT ? Error::NotFound : Error::Io, errno);
    }
    const std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = DecodeName(name);
    switch (found->d_type) {
      case DT_REG:
        entry.type = EntryType::File;
        break;
      case DT_DIR:
        entry.type = EntryType::Folder;
        break;
      case DT_LNK:
        entry.type = EntryType::Link;
        break;
      case DT_UNKNOWN: {
        // File systems that do not keep the type in the folder.
        struct stat st;
        if (fstatat(dirfd(dir.get()), found->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;  // deleted since it was listed
          return Fail(error, Error::Io, errno);
        }
        entry.type = TypeOf(st.st_mode);
        break;
      }
      default:
        entry.type = EntryType::Other;
        break;
    }
    if (!visit(entry)) break;
  }
  return Succeed(error);
}

bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) {
  std::string found;
  struct stat st;
  if (!Find(Fd(folder), name, &found, &st, error)) return false;
  info->type = TypeOf(st.st_mode);
  info->size = static_cast<std::uint64_t>(st.st_size);
  info->modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  info->fileId = static_cast<std::uint64_t>(st.st_ino);
  info->attributes = info->type == EntryType::Link ? kAttrNormal : AttributesOf(st);
  return Succeed(error);
}

FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                      Error* error) {
  std::string bytes;
  if (!EntryName(name, &bytes, error)) return kInvalidFile;
  // CreateNew too meets an entry that differs only in case, and then fails.
  const std::string found = ResolveCaseAt(Fd(folder), bytes);
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | (access == Access::Read ? O_RDONLY : O_WRONLY);
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT;
  if (disposition == Disposition::CreateNew) flags |= O_CREAT | O_EXCL;
  int raw;
  do raw = openat(Fd(folder), found.c_str(), flags, 0666);
  while (raw < 0 && errno == EINTR);
  if (raw < 0) {
    const int osError = errno;
    return FailOpen(error, OpenFailure(Fd(folder), found.c_str(), osError), osError);
  }
  Descriptor fd(raw);
  return FinishOpen(fd, access, share, disposition, Error::WrongType, error);
}

bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) {
  std::string found;
  struct stat st;
  if (!Find(Fd(folder), name, &found, &st, error)) return false;
  if (S_ISDIR(st.st_mode)) return Fail(error, Error::WrongType, EISDIR);
  if (S_ISREG(st.st_mode)) {
    if (IsReadOnly(st)) return Fail(error, Error::AccessDenied, 0, "the file is read-only");
    if (HeldByAnother(Fd(folder), found.c_str())) {
      return Fail(error, Error::SharingViolation, 0, "another opener holds the file");
    }
  }
  // A link goes itself; unlinkat never follows one.
  if (unlinkat(Fd(folder), found.c_str(), 0) != 0) {
    return Fail(error, errno == EISDIR ? Error::WrongType : FromErrno(errno), errno);
  }
  return Succeed(error);
}

bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) {
  std::string found;
  struct stat st;
  if (!Find(Fd(parent), name, &found, &st, error)) return false;
  if (S_ISLNK(st.st_mode)) {
    // The link itself, whatever it points at.
    if (unlinkat(Fd(parent), found.c_str(), 0) != 0) return Fail(error, FromErrno(errno), errno);
    return Succeed(error);
  }
  if (!S_ISDIR(st.st_mode)) return Fail(error, Error::WrongType, ENOTDIR);
  if (IsReadOnly(st)) return Fail(error, Error::AccessDenied, 0, "the folder is read-only");
  if (unlinkat(Fd(parent), found.c_str(), AT_REMOVEDIR) != 0) {
    const int osError = errno;
    if (osError == EEXIST || osError == ENOTEMPTY) return Fail(error, Error::NotEmpty, osError);
    // Replaced by something else since it was looked at.
    if (osError == ENOTDIR) return Fail(error, Error::WrongType, osError);
    return Fail(error, FromErrno(osError), osError);
  }
  return Succeed(error);
}

bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) {
  const int fd = Fd(folder);
  std::string source;
  struct stat sourceStat;
  if (!Find(fd, from, &source, &sourceStat, error)) return false;
  std::string target;
  if (!EntryName(to, &target, error)) return false;
  // A target that differs from an existing entry only in case is taken, unless that entry
  // is the source itself (a rename that changes only the case).
  const std::string existing = ResolveCaseAt(fd, target);
  struct stat targetStat;
  if (fstatat(fd, existing.c_str(), &targetStat, AT_SYMLINK_NOFOLLOW) == 0) {
    if (targetStat.st_dev != sourceStat.st_dev || targetStat.st_ino != sourceStat.st_ino || existing == target) {
      return Fail(error, Error::AlreadyExists, EEXIST);
    }
  } else if (errno != ENOENT) {
    return Fail(error, FromErrno(errno), errno);
  }
  if (S_ISREG(sourceStat.st_mode) && HeldByAnother(fd, source.c_str())) {
    return Fail(error, Error::SharingViolation, 0, "another opener holds the file");
  }
  if (renameat2(fd, source.c_str(), fd, target.c_str(), RENAME_NOREPLACE) == 0) return Succeed(error);
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(error, FromErrno(errno), errno);
  // The file system cannot rename without replacing: a hard link cannot replace either
  // (linkat without AT_SYMLINK_FOLLOW links a link itself).
  if (!S_ISDIR(sourceStat.st_mode)) {
    if (linkat(fd, source.c_str(), fd, target.c_str(), 0) != 0) return Fail(error, FromErrno(errno), errno);
    unlinkat(fd, source.c_str(), 0);
  } else {
    struct stat probe;
    if (fstatat(fd, target.c_str(), &probe, AT_SYMLINK_NOFOLLOW) == 0) return Fail(error, Error::AlreadyExists, EEXIST);
    if (renameat(fd, source.c_str(), fd, target.c_str()) != 0) return Fail(error, FromErrno(errno), errno);
  }
  return Succeed(error);
}

bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) {
  std::string bytes;
  if (!EntryName(name, &bytes, error)) return false;
  const std::string found = ResolveCaseAt(Fd(folder), bytes);
  // Through a descriptor of the entry itself: a path chmod would follow a link.
  Descriptor fd(openat(Fd(folder), found.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    const int osError = errno;
    return Fail(error, OpenFailure(Fd(folder), found.c_str(), osError), osError);
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Fail(error, Error::Io, errno);
  if (!S_ISREG(st.st_mode)) return Fail(error, Error::WrongType, 0, "not a regular file");
  if (fchmod(fd.get(), ModeWithAttributes(st.st_mode, attributes)) != 0) return Fail(error, FromErrno(errno), errno);
  return Succeed(error);
}

}  // namespace es::platform::posix
