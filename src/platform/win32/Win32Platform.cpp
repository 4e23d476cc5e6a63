// The Win32 backend: the kernel calls themselves, char16_t reinterpreted as wchar_t.
// Folders of a storage are reached through handles (Win32Folders.cpp). Every failure is
// kept as the thread's last one, as a system error code or in the backend's own words.
// CreateNew opens with FILE_FLAG_OPEN_REPARSE_POINT, so that a new file is never made at
// the end of a link.
#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "es/Bstr.h"
#include "platform/PlatformInternal.h"
#include "platform/win32/Win32Backend.h"

namespace es::platform {
namespace win32 {
namespace {

// The last failure of this thread: a system error code, or words of the backend's own.
thread_local DWORD t_lastCode = 0;
thread_local const char16_t* t_lastWords = nullptr;

}  // namespace

Error FromLastError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return Error::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Error::AccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Error::SharingViolation;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Error::AlreadyExists;
    case ERROR_DIR_NOT_EMPTY:
      return Error::NotEmpty;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
    case ERROR_FILENAME_EXCED_RANGE:
      return Error::InvalidArgument;
    default:
      return Error::Io;
  }
}

bool Fail(Error* error, Error reason, DWORD code) {
  if (error) *error = reason;
  t_lastCode = code;
  t_lastWords = nullptr;
  return false;
}

bool Fail(Error* error, DWORD code) { return Fail(error, FromLastError(code), code); }

bool Refuse(Error* error, Error reason, const char16_t* words) {
  if (error) *error = reason;
  t_lastWords = words;
  return false;
}

Str LastFailureText() {
  if (t_lastWords) return t_lastWords;
  if (t_lastCode == 0) return {};
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, t_lastCode,
      0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  Str text = length ? Str(reinterpret_cast<const char16_t*>(message), length) : Str(u"error");
  if (message) LocalFree(message);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
  const std::wstring code = std::to_wstring(t_lastCode);
  return text + u" (error " + Str(code.begin(), code.end()) + u")";
}

namespace {

Str FromW(const wchar_t* text) { return Str(reinterpret_cast<const char16_t*>(text)); }
Str FromW(const wchar_t* text, std::size_t length) { return Str(reinterpret_cast<const char16_t*>(text), length); }

HANDLE H(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

bool Report(BOOL ok, Error* error) {
  if (!ok) return Fail(error, GetLastError());
  if (error) *error = Error::None;
  return true;
}

// Room for a name of `capacity` characters with its terminator; no account or computer
// name comes near the bound.
constexpr std::size_t kNameRoom = 32768;

class Win32Platform final : public IPlatform {
 public:
  FileHandle OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                      Error* error) override {
    // Windows refuses to write a read-only file even to administrators; say so before the
    // call, for file systems underneath that would let a privileged user write anyway.
    if ((access == Access::Write && disposition != Disposition::CreateNew) ||
        disposition == Disposition::CreateAlways) {
      const DWORD attributes = GetFileAttributesW(W(path));
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
          !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Refuse(error, Error::AccessDenied, u"the file is read-only");
        return kInvalidFile;
      }
    }
    const HANDLE file = CreateFileW(W(path), access == Access::Read ? GENERIC_READ : GENERIC_WRITE,
                                    share == Share::Read ? FILE_SHARE_READ : 0, nullptr,
                                    disposition == Disposition::OpenExisting ? OPEN_EXISTING
                                    : disposition == Disposition::CreateNew  ? CREATE_NEW
                                                                             : CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL |
                                        (disposition == Disposition::CreateNew ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Fail(error, GetLastError());
      return kInvalidFile;
    }
    if (error) *error = Error::None;
    return reinterpret_cast<FileHandle>(file);
  }

  bool FileSize(FileHandle file, std::uint64_t* size) override {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(H(file), &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }

  bool Seek(FileHandle file, std::uint64_t offset) override {
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(H(file), distance, nullptr, FILE_BEGIN) != FALSE;
  }

  bool Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) override {
    *got = 0;
    DWORD read = 0;
    const DWORD wanted = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    if (!ReadFile(H(file), buffer, wanted, &read, nullptr)) return Fail(nullptr, GetLastError());
    *got = read;
    return true;
  }

  bool Write(FileHandle file, const void* buffer, std::size_t count) override {
    const char* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
      DWORD written = 0;
      const DWORD chunk = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
      if (!WriteFile(H(file), bytes, chunk, &written, nullptr)) return Fail(nullptr, GetLastError());
      if (written == 0) return Refuse(nullptr, Error::Io, u"nothing was written");
      bytes += written;
      count -= written;
    }
    return true;
  }

  void Close(FileHandle file) override {
    if (file != kInvalidFile) CloseHandle(H(file));
  }

  bool DeleteFile(const Str& path, Error* error) override { return Report(DeleteFileW(W(path)), error); }
  bool RemoveDirectory(const Str& path, Error* error) override { return Report(RemoveDirectoryW(W(path)), error); }
  bool MoveFile(const Str& from, const Str& to, Error* error) override {
    return Report(MoveFileW(W(from), W(to)), error);
  }
  bool CreateDirectory(const Str& path, Error* error) override {
    return Report(CreateDirectoryW(W(path), nullptr), error);
  }

  bool GetAttributes(const Str& path, std::uint32_t* attributes) override {
    const DWORD value = GetFileAttributesW(W(path));
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    *attributes = value;
    return true;
  }

  bool SetAttributes(const Str& path, std::uint32_t attributes) override {
    return SetFileAttributesW(W(path), attributes) || Fail(nullptr, GetLastError());
  }

  bool Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) override {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(W(pattern), &found);
    if (search == INVALID_HANDLE_VALUE) {
      // An existing folder where nothing matches is an empty listing, not a failure.
      return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    struct Closer {
      HANDLE search;
      ~Closer() { FindClose(search); }
    } closer{search};
    do {
      DirEntry entry;
      entry.name = FromW(found.cFileName);
      entry.attributes = found.dwFileAttributes;
      entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (!visit(entry)) break;
    } while (FindNextFileW(search, &found));
    return true;
  }

  FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) override {
    return win32::OpenFolder(path, followLink, error);
  }
  FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) override {
    return win32::OpenSubFolder(parent, name, error);
  }
  void CloseFolder(FolderHandle folder) override { win32::CloseFolder(folder); }
  bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit,
                  Error* error) override {
    return win32::ListFolder(folder, visit, error);
  }
  bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) override {
    return win32::StatAt(folder, name, info, error);
  }
  FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                        Error* error) override {
    return win32::OpenFileAt(folder, name, access, share, disposition, error);
  }
  bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) override {
    return win32::DeleteFileAt(folder, name, error);
  }
  bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) override {
    return win32::RemoveFolderAt(parent, name, error);
  }
  bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) override {
    return win32::MoveFileAt(folder, from, to, error);
  }
  bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) override {
    return win32::SetAttributesAt(folder, name, attributes, error);
  }
  Str LastErrorText() override { return LastFailureText(); }

  Str AnsiToUtf16(const char* bytes, std::size_t count) override {
    if (count == 0 || count > INT_MAX) return {};
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (length <= 0) return {};
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(count), wide.data(), length);
    return FromW(wide.data(), wide.size());
  }

  bool Utf16ToAnsi(const Str& text, std::string* bytes) override {
    if (text.empty()) {
      bytes->clear();
      return true;
    }
    if (text.size() > INT_MAX) return false;
    const int count = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_THREAD_ACP, 0, W(text), count, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    std::string out(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, W(text), count, out.data(), length, nullptr, nullptr) != length) {
      return false;
    }
    *bytes = std::move(out);
    return true;
  }

  bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) override {
    // The size asked for includes the terminator, as the capacity does.
    const DWORD needed = ExpandEnvironmentStringsW(W(text), nullptr, 0);
    if (needed == 0 || needed > capacity) return false;
    std::vector<wchar_t> buffer(needed);
    const DWORD written = ExpandEnvironmentStringsW(W(text), buffer.data(), needed);
    if (written == 0 || written > needed) return false;
    *expanded = FromW(buffer.data());
    return true;
  }

  bool UserName(std::size_t capacity, Str* name) override {
    if (capacity == 0) return false;
    std::vector<wchar_t> buffer(capacity < kNameRoom ? capacity : kNameRoom);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!GetUserNameW(buffer.data(), &size)) return false;
    *name = FromW(buffer.data());
    return true;
  }

  bool ComputerName(std::size_t capacity, Str* name) override {
    if (capacity == 0) return false;
    std::vector<wchar_t> buffer(capacity < kNameRoom ? capacity : kNameRoom);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!GetComputerNameW(buffer.data(), &size)) return false;
    *name = FromW(buffer.data());
    return true;
  }

  void* ModuleHandleByName(const Str& name) override { return GetModuleHandleW(W(name)); }

  Str ModuleFileName(void* module) override {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      const DWORD length =
          GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) return {};
      if (length < buffer.size()) return FromW(buffer.data(), length);
      if (buffer.size() >= 32768) return {};
      buffer.resize(buffer.size() * 2);
    }
  }

  std::int64_t UnixTime() override { return static_cast<std::int64_t>(std::time(nullptr)); }

  int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) override {
    // A capacity of 0 would make LoadStringW hand out a pointer into the resource instead.
    if (!buffer || capacity <= 0) return 0;
    return LoadStringW(static_cast<HINSTANCE>(resourceModule), id, reinterpret_cast<wchar_t*>(buffer), capacity);
  }
};

}  // namespace
}  // namespace win32

namespace detail {
IPlatform& CreateNativeBackend() {
  static win32::Win32Platform* backend = new win32::Win32Platform;  // never destroyed
  return *backend;
}
}  // namespace detail

void* ThisModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModuleHandle), &module);
  return module;
}

// The host boundary's own allocation: see es/Bstr.h.
char16_t* BstrAlloc(const char16_t* text, std::size_t length) { return bstr::Alloc(text, length); }
void BstrFree(char16_t* text) { bstr::Free(text); }

}  // namespace es::platform
