// The seam between the module and the operating system. The core calls the OS only
// through this interface; one backend per OS (posix/, win32/). Tests may install a
// backend of their own that forwards to the real one and fails on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#ifdef _WIN32
// <windows.h> turns these names into macros for its W functions; the seam's methods keep
// their own names in every translation unit, whatever was included before.
#undef CreateDirectory
#undef DeleteFile
#undef LoadString
#undef MoveFile
#undef RemoveDirectory
#endif

namespace es::platform {

using Str = std::u16string;

#ifdef _WIN32
inline constexpr char16_t kPathSep = u'\\';
inline constexpr char16_t kModuleFileName[] = u"Input.ExternalStorage.dll";
#else
inline constexpr char16_t kPathSep = u'/';
inline constexpr char16_t kModuleFileName[] = u"Input.ExternalStorage.so";
#endif

// File attribute bits, with their Windows values so that stored rules read the same.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrNormal = 0x80;

enum class Access { Read, Write };
// Share::None denies every other opener; Share::Read lets other readers in.
enum class Share { None, Read };
enum class Disposition {
  OpenExisting,  // fail when the file is missing
  CreateAlways,  // create or truncate
  CreateNew,     // create; fail with AlreadyExists when any entry of that name exists
};

// Why an operation failed, as far as the core cares.
enum class Error {
  None = 0,
  NotFound,
  AccessDenied,
  SharingViolation,
  AlreadyExists,
  NotEmpty,
  InvalidArgument,
  Io,
  Injected,   // a test backend failed this call on purpose
  IsLink,     // the entry is a symbolic link, junction or other reparse point; not followed
  WrongType,  // a folder, FIFO, device or socket where a regular file was wanted, or the reverse
};

using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

struct DirEntry {
  Str name;
  bool isDirectory = false;
  std::uint32_t attributes = 0;
};

// ---- Folders of a storage ------------------------------------------------------------
// Everything below a registered storage is written by others. A group or document folder
// is opened once, never through a link, and its entries are listed, opened, renamed and
// deleted relative to that handle: a folder swapped for a link after it was listed cannot
// lead anywhere else. Links (symbolic links, junctions, every reparse point) are reported
// as such and never followed; only regular files open as files.

using FolderHandle = std::intptr_t;
inline constexpr FolderHandle kInvalidFolder = -1;

enum class EntryType {
  File,    // a regular file
  Folder,  // a real folder
  Link,    // a symbolic link, junction or other reparse point, whatever it points at
  Other,   // FIFO, device, socket
};

struct FolderEntry {
  Str name;
  EntryType type = EntryType::Other;
};

struct EntryInfo {
  EntryType type = EntryType::Other;
  std::uint64_t size = 0;
  std::int64_t modified = 0;      // last write, seconds since 1970-01-01 UTC
  std::uint64_t fileId = 0;       // inode or file index: tells a replaced file from the one read
  std::uint32_t attributes = 0;   // kAttrReadOnly, kAttrDirectory, kAttrNormal
};

// The kinds of call a fault-injecting backend can count.
enum class CallKind {
  Open,
  Read,
  Write,
  Delete,
  Rename,
  RemoveDirectory,
  SetAttributes,
  Enumerate,
  OpenFolder,  // OpenFolder and OpenSubFolder
  ListFolder,
  Stat,        // StatAt
};

class IPlatform {
 public:
  virtual ~IPlatform() = default;

  // Files.
  virtual FileHandle OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                              Error* error) = 0;
  virtual bool FileSize(FileHandle file, std::uint64_t* size) = 0;
  virtual bool Seek(FileHandle file, std::uint64_t offset) = 0;
  // Reads up to `count` bytes; `*got` is what arrived (0 at end of file).
  virtual bool Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) = 0;
  virtual bool Write(FileHandle file, const void* buffer, std::size_t count) = 0;
  virtual void Close(FileHandle file) = 0;

  virtual bool DeleteFile(const Str& path, Error* error) = 0;
  virtual bool RemoveDirectory(const Str& path, Error* error) = 0;
  // Renames without replacing: fails when `to` exists, as MoveFileW does.
  virtual bool MoveFile(const Str& from, const Str& to, Error* error) = 0;
  virtual bool CreateDirectory(const Str& path, Error* error) = 0;
  virtual bool GetAttributes(const Str& path, std::uint32_t* attributes) = 0;
  virtual bool SetAttributes(const Str& path, std::uint32_t attributes) = 0;

  // Enumerates `pattern` (a folder, a separator and a wildcard such as "*.*" or "*.pg").
  // "." and ".." are reported where the file system has them. `visit` returns false
  // to stop early. Returns false when the enumeration could not be started.
  virtual bool Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) = 0;

  // Folders of a storage (see FolderHandle above). Every call that fails says why through
  // `error`: NotFound only when the entry is not there; IsLink and WrongType as described;
  // any other failure of the OS (an I/O error of a network share, say) is never NotFound.
  // `name` is one entry of the folder: an empty name, "." or "..", or one with a separator
  // (or, on Windows, a stream name after ':') gives InvalidArgument. A folder handle may be
  // used by several threads at once.
  //
  // Opens the folder at `path`. With `followLink` false the last component must be a real
  // folder, not a link (IsLink); the components above it are taken as they are, since the
  // registered storage directory may itself be a link that the administrator chose.
  // Trailing separators are ignored (they would make the last component be followed).
  virtual FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) = 0;
  // Sub-folder `name` of `parent`, never through a link.
  virtual FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) = 0;
  virtual void CloseFolder(FolderHandle folder) = 0;
  // Every entry but "." and "..", in the file system's order, each with its own type (a
  // link is a Link whatever it points at). `visit` returns false to stop early. False when
  // the listing could not be started or failed on the way (entries may have been visited);
  // a failure on the way is never taken for the end of the folder.
  virtual bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit,
                          Error* error) = 0;
  // Facts of the entry `name` itself; a link is not followed (its attributes: kAttrNormal).
  virtual bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) = 0;
  // Opens regular file `name` of `folder` with the share modes of OpenFile. A link gives
  // IsLink, anything but a regular file WrongType. CreateNew never opens an existing entry.
  // Names are found without regard to case, as on Windows.
  virtual FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share,
                                Disposition disposition, Error* error) = 0;
  // Deletes the entry `name`: a regular file (refused as DeleteFile refuses: read-only is
  // AccessDenied, held by another opener SharingViolation), or a link itself, never its
  // target (a FIFO or socket goes as an entry too). A folder gives WrongType.
  virtual bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) = 0;
  // Removes the empty sub-folder `name` of `parent` (NotEmpty otherwise, AccessDenied when
  // read-only); a link of that name is removed as a link, never its target. Anything else
  // gives WrongType.
  virtual bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) = 0;
  // Renames entry `from` of `folder` to `to` in the same folder, never replacing an entry
  // (AlreadyExists, also for one that differs only in case; a change of the case of `from`
  // alone is a rename). A file held by another opener gives SharingViolation.
  virtual bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) = 0;
  // Sets kAttrReadOnly or kAttrNormal on regular file `name`; a link is never followed (IsLink).
  virtual bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) = 0;
  // The OS's own words for the last failure of a seam call on this thread, with its code
  // ("Input/output error (errno 5)", "Access is denied. (error 5)"), or the backend's own
  // words where it refused by itself ("the file is read-only"), for trace lines; empty
  // when there is none.
  virtual Str LastErrorText() = 0;

  // Text in the thread's ANSI code page.
  virtual Str AnsiToUtf16(const char* bytes, std::size_t count) = 0;
  virtual bool Utf16ToAnsi(const Str& text, std::string* bytes) = 0;

  // %NAME% references; unknown names stay as written. Fails when the result needs
  // more than `capacity` characters including its terminator.
  virtual bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) = 0;

  // Names limited to `capacity` characters including the terminator; false when they
  // cannot be had or do not fit.
  virtual bool UserName(std::size_t capacity, Str* name) = 0;
  virtual bool ComputerName(std::size_t capacity, Str* name) = 0;

  // The module handle of the loaded module with that file name, or null.
  virtual void* ModuleHandleByName(const Str& name) = 0;
  // The full file name of a module; null means the host program's own file.
  virtual Str ModuleFileName(void* module) = 0;

  // Current time, seconds since 1970-01-01 UTC.
  virtual std::int64_t UnixTime() = 0;

  // String resource of a resource module with LoadStringW semantics: at most
  // capacity - 1 characters and a terminator. Returns the number of characters copied.
  virtual int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) = 0;
};

// The backend in use. Never null: the native backend unless a test installed another.
IPlatform& Os();
// Installs a backend for tests; null restores the native one. Returns the previous one.
IPlatform* SetPlatform(IPlatform* platform);
IPlatform& NativePlatform();

// Allocation of BSTR-style strings shared with the host: see HostInterfaces.h.
char16_t* BstrAlloc(const char16_t* text, std::size_t length);
void BstrFree(char16_t* text);

// Process-wide ANSI code page for backends that have none of their own (POSIX).
// Windows-1252 unless the host chooses another. Ignored by the Win32 backend.
void SetAnsiCodePage(const char* name);

// The instance handle of the binary this code is linked into (the module when linked into
// the module, the program when linked into a test), as LoadString takes it. Windows: the
// HMODULE. POSIX: the binary's registered string-table record (see Lunmere.h).
void* ThisModuleHandle();

// A manual-reset event.
class Event {
 public:
  explicit Event(bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set();
  void Reset();
  // True when the event was set within `timeoutMs` (negative: no limit).
  bool Wait(int timeoutMs);
  void* NativeHandle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A thread whose end can be awaited for a bounded time.
class Thread {
 public:
  Thread();
  ~Thread();  // detaches a thread still running: the owner decided not to wait longer
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  bool Start(std::function<void()> body);
  // True when the thread has ended within `timeoutMs`; the handle is then released.
  bool Join(int timeoutMs);
  bool Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Waits until `event` is set or `timeoutMs` passes (negative: no limit) while the calling
// thread's own window messages keep being dispatched, so that a thread owning windows
// does not stall them. Each wait after a dispatch is given the full timeout again. True
// when the event was set. POSIX threads have no message queue: a plain wait.
bool WaitPumping(Event& event, int timeoutMs);

}  // namespace es::platform
