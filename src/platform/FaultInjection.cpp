#include "platform/FaultInjection.h"

#include <algorithm>

namespace es::platform {
namespace {

// The backend whose injected failure is this thread's last failure, and its reason.
thread_local const FaultyPlatform* t_injectedBy = nullptr;
thread_local Error t_injectedReason = Error::Injected;

const char16_t* Words(Error reason) {
  switch (reason) {
    case Error::None: return u"no error";
    case Error::NotFound: return u"not found";
    case Error::AccessDenied: return u"access denied";
    case Error::SharingViolation: return u"sharing violation";
    case Error::AlreadyExists: return u"already exists";
    case Error::NotEmpty: return u"folder not empty";
    case Error::InvalidArgument: return u"invalid argument";
    case Error::Io: return u"Input/output error";
    case Error::Injected: return u"planned failure";
    case Error::IsLink: return u"the entry is a link";
    case Error::WrongType: return u"wrong type of entry";
  }
  return u"unknown";
}

}  // namespace

FaultyPlatform::FaultyPlatform(IPlatform& inner) : inner_(inner) {}

void FaultyPlatform::FailAt(CallKind kind, int n, int times, Error reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back({kind, n, n + std::max(times, 1) - 1, reason});
}

void FaultyPlatform::RunAt(std::initializer_list<CallKind> kinds, int n, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_.push_back({std::vector<CallKind>(kinds), n, std::move(action), true});
}

void FaultyPlatform::RunBefore(std::initializer_list<CallKind> kinds, int n, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_.push_back({std::vector<CallKind>(kinds), n, std::move(action), false});
}

void FaultyPlatform::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
  actions_.clear();
}

int FaultyPlatform::Count(CallKind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_[static_cast<std::size_t>(kind)];
}

bool FaultyPlatform::Intercept(CallKind kind, Error* error) {
  std::vector<std::function<void()>> due;
  bool fail = false;
  Error reason = Error::Injected;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int count = ++counts_[static_cast<std::size_t>(kind)];
    for (const Failure& failure : failures_) {
      if (failure.kind == kind && count >= failure.first && count <= failure.last) {
        fail = true;
        reason = failure.reason;
      }
    }
    for (Action& action : actions_) {
      if (action.done || std::find(action.kinds.begin(), action.kinds.end(), kind) == action.kinds.end()) continue;
      int total = 0;
      for (CallKind counted : action.kinds) total += counts_[static_cast<std::size_t>(counted)];
      if (total == action.n) {
        action.done = true;
        due.push_back(action.run);
        if (action.instead) {
          fail = true;
          reason = Error::Injected;
        }
      }
    }
  }
  // Outside the lock: an action usually throws, or calls the platform itself.
  for (const std::function<void()>& run : due) run();
  if (!fail) return false;
  if (error) *error = reason;
  t_injectedBy = this;
  t_injectedReason = reason;
  return true;
}

bool FaultyPlatform::Forwarded(bool ok) {
  if (!ok && t_injectedBy == this) t_injectedBy = nullptr;
  return ok;
}

Str FaultyPlatform::LastErrorText() {
  if (t_injectedBy == this) return Str(u"injected: ") + Words(t_injectedReason);
  return inner_.LastErrorText();
}

FileHandle FaultyPlatform::OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                                    Error* error) {
  if (Intercept(CallKind::Open, error)) return kInvalidFile;
  return Forwarded(inner_.OpenFile(path, access, share, disposition, error), kInvalidFile);
}

bool FaultyPlatform::FileSize(FileHandle file, std::uint64_t* size) { return Forwarded(inner_.FileSize(file, size)); }
bool FaultyPlatform::Seek(FileHandle file, std::uint64_t offset) { return Forwarded(inner_.Seek(file, offset)); }

bool FaultyPlatform::Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) {
  if (Intercept(CallKind::Read)) {
    *got = 0;
    return false;
  }
  return Forwarded(inner_.Read(file, buffer, count, got));
}

bool FaultyPlatform::Write(FileHandle file, const void* buffer, std::size_t count) {
  if (Intercept(CallKind::Write)) return false;
  return Forwarded(inner_.Write(file, buffer, count));
}

void FaultyPlatform::Close(FileHandle file) { inner_.Close(file); }

bool FaultyPlatform::DeleteFile(const Str& path, Error* error) {
  if (Intercept(CallKind::Delete, error)) return false;
  return Forwarded(inner_.DeleteFile(path, error));
}

bool FaultyPlatform::RemoveDirectory(const Str& path, Error* error) {
  if (Intercept(CallKind::RemoveDirectory, error)) return false;
  return Forwarded(inner_.RemoveDirectory(path, error));
}

bool FaultyPlatform::MoveFile(const Str& from, const Str& to, Error* error) {
  if (Intercept(CallKind::Rename, error)) return false;
  return Forwarded(inner_.MoveFile(from, to, error));
}

bool FaultyPlatform::CreateDirectory(const Str& path, Error* error) {
  return Forwarded(inner_.CreateDirectory(path, error));
}

bool FaultyPlatform::GetAttributes(const Str& path, std::uint32_t* attributes) {
  return Forwarded(inner_.GetAttributes(path, attributes));
}

bool FaultyPlatform::SetAttributes(const Str& path, std::uint32_t attributes) {
  if (Intercept(CallKind::SetAttributes)) return false;
  return Forwarded(inner_.SetAttributes(path, attributes));
}

bool FaultyPlatform::Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) {
  if (Intercept(CallKind::Enumerate)) return false;
  return Forwarded(inner_.Enumerate(pattern, visit));
}

FolderHandle FaultyPlatform::OpenFolder(const Str& path, bool followLink, Error* error) {
  if (Intercept(CallKind::OpenFolder, error)) return kInvalidFolder;
  return Forwarded(inner_.OpenFolder(path, followLink, error), kInvalidFolder);
}

FolderHandle FaultyPlatform::OpenSubFolder(FolderHandle parent, const Str& name, Error* error) {
  if (Intercept(CallKind::OpenFolder, error)) return kInvalidFolder;
  return Forwarded(inner_.OpenSubFolder(parent, name, error), kInvalidFolder);
}

void FaultyPlatform::CloseFolder(FolderHandle folder) { inner_.CloseFolder(folder); }

bool FaultyPlatform::ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit,
                                Error* error) {
  if (Intercept(CallKind::ListFolder, error)) return false;
  return Forwarded(inner_.ListFolder(folder, visit, error));
}

bool FaultyPlatform::StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) {
  if (Intercept(CallKind::Stat, error)) return false;
  return Forwarded(inner_.StatAt(folder, name, info, error));
}

FileHandle FaultyPlatform::OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share,
                                      Disposition disposition, Error* error) {
  if (Intercept(CallKind::Open, error)) return kInvalidFile;
  return Forwarded(inner_.OpenFileAt(folder, name, access, share, disposition, error), kInvalidFile);
}

bool FaultyPlatform::DeleteFileAt(FolderHandle folder, const Str& name, Error* error) {
  if (Intercept(CallKind::Delete, error)) return false;
  return Forwarded(inner_.DeleteFileAt(folder, name, error));
}

bool FaultyPlatform::RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) {
  if (Intercept(CallKind::RemoveDirectory, error)) return false;
  return Forwarded(inner_.RemoveFolderAt(parent, name, error));
}

bool FaultyPlatform::MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) {
  if (Intercept(CallKind::Rename, error)) return false;
  return Forwarded(inner_.MoveFileAt(folder, from, to, error));
}

bool FaultyPlatform::SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) {
  if (Intercept(CallKind::SetAttributes, error)) return false;
  return Forwarded(inner_.SetAttributesAt(folder, name, attributes, error));
}

Str FaultyPlatform::AnsiToUtf16(const char* bytes, std::size_t count) { return inner_.AnsiToUtf16(bytes, count); }
bool FaultyPlatform::Utf16ToAnsi(const Str& text, std::string* bytes) { return inner_.Utf16ToAnsi(text, bytes); }

bool FaultyPlatform::ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) {
  return inner_.ExpandEnvironment(text, capacity, expanded);
}

bool FaultyPlatform::UserName(std::size_t capacity, Str* name) { return inner_.UserName(capacity, name); }
bool FaultyPlatform::ComputerName(std::size_t capacity, Str* name) { return inner_.ComputerName(capacity, name); }
void* FaultyPlatform::ModuleHandleByName(const Str& name) { return inner_.ModuleHandleByName(name); }
Str FaultyPlatform::ModuleFileName(void* module) { return inner_.ModuleFileName(module); }
std::int64_t FaultyPlatform::UnixTime() { return inner_.UnixTime(); }

int FaultyPlatform::LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) {
  return inner_.LoadString(resourceModule, id, buffer, capacity);
}

}  // namespace es::platform
