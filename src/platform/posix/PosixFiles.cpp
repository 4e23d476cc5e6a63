#include "platform/posix/PosixFiles.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>

#include "platform/posix/Names.h"

namespace es::platform::posix {
namespace {

thread_local std::string t_lastFailure;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

std::string MatchNoCase(DIR* dir, const std::string& name) {
  const Str wanted = DecodeName(name);
  while (const dirent* entry = readdir(dir)) {
    if (EqualNoCase(DecodeName(entry->d_name), wanted)) return entry->d_name;
  }
  return name;
}

}  // namespace

Error FromErrno(int osError) {
  switch (osError) {
    case ENOENT:
    case ENOTDIR:
      return Error::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return Error::AccessDenied;
    case EEXIST:
      return Error::AlreadyExists;
    case ENOTEMPTY:
      return Error::NotEmpty;
    case EWOULDBLOCK:
      return Error::SharingViolation;
    case EINVAL:
    case ENAMETOOLONG:
    case EILSEQ:
    case ELOOP:
      return Error::InvalidArgument;
    default:
      return Error::Io;
  }
}

bool Fail(Error* error, Error reason, int osError, const char* words) {
  if (error) *error = reason;
  if (osError != 0) {
    char buffer[256];
    t_lastFailure = strerror_r(osError, buffer, sizeof buffer);
    t_lastFailure += " (errno " + std::to_string(osError) + ")";
  } else {
    t_lastFailure = words ? words : "failed";
  }
  return false;
}

FileHandle FailOpen(Error* error, Error reason, int osError, const char* words) {
  Fail(error, reason, osError, words);
  return kInvalidFile;
}

Str LastFailureText() { return DecodeName(t_lastFailure); }

std::string ResolveCase(const std::string& path) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) == 0 || errno != ENOENT) return path;
  const std::size_t slash = path.find_last_of('/');
  std::string folder;
  std::string prefix;
  if (slash == std::string::npos) {
    folder = ".";
  } else if (slash == 0) {
    folder = prefix = "/";
  } else {
    folder = ResolveCase(path.substr(0, slash));
    prefix = folder + "/";
  }
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return prefix + base;
  DirPtr dir(opendir(folder.c_str()));
  return prefix + (dir ? MatchNoCase(dir.get(), base) : base);
}

std::string ResolveCaseAt(int folder, const std::string& name) {
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) return name;
  // A descriptor of its own, so that this listing does not move another one's position.
  const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return name;
  DirPtr dir(fdopendir(listing));
  if (!dir) {
    close(listing);
    return name;
  }
  return MatchNoCase(dir.get(), name);
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) close(fd_);
}

int Flock(int fd, int operation) {
  int result;
  do result = flock(fd, operation | LOCK_NB);
  while (result != 0 && errno == EINTR);
  return result;
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::uint32_t AttributesOf(const struct stat& st) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (IsReadOnly(st)) attributes |= kAttrReadOnly;
  return attributes ? attributes : kAttrNormal;
}

mode_t ModeWithAttributes(mode_t mode, std::uint32_t attributes) {
  mode &= 07777;
  if (attributes & kAttrReadOnly) return mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  return mode | S_IWUSR;
}

bool HeldByAnother(int folder, const char* name) {
  Descriptor fd(openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return false;  // unreadable to us: nobody we could see holds it
  return Flock(fd.get(), LOCK_EX) != 0 && errno == EWOULDBLOCK;
}

FileHandle FinishOpen(Descriptor& fd, Access access, Share share, Disposition disposition, Error wrongType,
                      Error* error) {
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return FailOpen(error, Error::Io, errno);
  if (!S_ISREG(st.st_mode)) return FailOpen(error, wrongType, 0, "not a regular file");
  if ((access == Access::Write || disposition == Disposition::CreateAlways) && IsReadOnly(st)) {
    return FailOpen(error, Error::AccessDenied, 0, "the file is read-only");
  }
  if (Flock(fd.get(), share == Share::None ? LOCK_EX : LOCK_SH) != 0 && errno == EWOULDBLOCK) {
    return FailOpen(error, Error::SharingViolation, 0, "another opener holds the file");
  }
  // Other lock failures (a file system without locks) leave the file usable, unguarded.
  if (disposition == Disposition::CreateAlways && st.st_size != 0 && ftruncate(fd.get(), 0) != 0) {
    return FailOpen(error, FromErrno(errno), errno);
  }
  const int status = fcntl(fd.get(), F_GETFL);
  if (status >= 0) fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK);
  Succeed(error);
  return fd.release();
}

}  // namespace es::platform::posix
