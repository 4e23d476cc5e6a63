// What the files and folders halves of the POSIX backend share: error mapping with the
// thread's last failure, descriptors, locks and the read-only attribute.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Platform.h"

namespace es::platform::posix {

// errno to the seam's reasons. Anything unexpected (EIO of a flaky share among them) is
// Io, never NotFound.
Error FromErrno(int osError);

// Records a failure as the thread's last one and hands the reason to the caller; false.
// `osError` is the errno behind it; 0 when the backend refused on its own (`words`).
bool Fail(Error* error, Error reason, int osError, const char* words = nullptr);
FileHandle FailOpen(Error* error, Error reason, int osError, const char* words = nullptr);
inline bool Succeed(Error* error) {
  if (error) *error = Error::None;
  return true;
}
// The last failure of this thread: the OS's words and the errno, or the backend's words.
Str LastFailureText();

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The path of an existing entry that equals `path` without regard to case, component by
// component; where nothing matches, the path with its folders resolved and the rest as
// given.
std::string ResolveCase(const std::string& path);
// The name of the entry of `folder` that equals `name` without regard to case: `name`
// itself when it exists (or cannot be looked for), else the first entry in the folder's
// order that differs only in case, else `name`.
std::string ResolveCaseAt(int folder, const std::string& name);

// flock without blocking, retried when a signal interrupts it.
int Flock(int fd, int operation);

bool IsReadOnly(const struct stat& st);
std::uint32_t AttributesOf(const struct stat& st);
// The permission bits after setting kAttrReadOnly or kAttrNormal.
mode_t ModeWithAttributes(mode_t mode, std::uint32_t attributes);

// Whether another opener holds the lock of regular file `name` (relative to `folder`, or
// AT_FDCWD), as Windows refuses to delete or rename a file open without delete sharing.
bool HeldByAnother(int folder, const char* name);

// The rest of an open, once `fd` is open (non-blocking) on the entry: only a regular file
// passes (anything else fails with `wrongType`), write access refuses a read-only file,
// the share mode is taken as a lock, and CreateAlways truncates only after locking.
FileHandle FinishOpen(Descriptor& fd, Access access, Share share, Disposition disposition, Error wrongType,
                      Error* error);

}  // namespace es::platform::posix
