#include "platform/FaultInjection.h"

#include <algorithm>

namespace es::platform {

FaultyPlatform::FaultyPlatform(IPlatform& inner) : inner_(inner) {}

void FaultyPlatform::FailAt(CallKind kind, int n, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back({kind, n, n + std::max(times, 1) - 1});
}

void FaultyPlatform::RunAt(std::initializer_list<CallKind> kinds, int n, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(mutex_);
  actions_.push_back({std::vector<CallKind>(kinds), n, std::move(action)});
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

bool FaultyPlatform::Intercept(CallKind kind) {
  std::function<void()> due;
  bool fail = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int count = ++counts_[static_cast<std::size_t>(kind)];
    for (const Failure& failure : failures_) {
      if (failure.kind == kind && count >= failure.first && count <= failure.last) fail = true;
    }
    for (Action& action : actions_) {
      if (action.done || std::find(action.kinds.begin(), action.kinds.end(), kind) == action.kinds.end()) continue;
      int total = 0;
      for (CallKind counted : action.kinds) total += counts_[static_cast<std::size_t>(counted)];
      if (total == action.n) {
        action.done = true;
        due = action.run;
        break;
      }
    }
  }
  // Outside the lock: the action usually throws, and may call the platform itself.
  if (due) {
    due();
    return true;
  }
  return fail;
}

bool FaultyPlatform::Intercept(CallKind kind, Error* error) {
  if (!Intercept(kind)) return false;
  if (error) *error = Error::Injected;
  return true;
}

FileHandle FaultyPlatform::OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                                    Error* error) {
  if (Intercept(CallKind::Open, error)) return kInvalidFile;
  return inner_.OpenFile(path, access, share, disposition, error);
}

bool FaultyPlatform::FileSize(FileHandle file, std::uint64_t* size) { return inner_.FileSize(file, size); }
bool FaultyPlatform::Seek(FileHandle file, std::uint64_t offset) { return inner_.Seek(file, offset); }

bool FaultyPlatform::Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) {
  if (Intercept(CallKind::Read)) {
    *got = 0;
    return false;
  }
  return inner_.Read(file, buffer, count, got);
}

bool FaultyPlatform::Write(FileHandle file, const void* buffer, std::size_t count) {
  if (Intercept(CallKind::Write)) return false;
  return inner_.Write(file, buffer, count);
}

void FaultyPlatform::Close(FileHandle file) { inner_.Close(file); }

bool FaultyPlatform::DeleteFile(const Str& path, Error* error) {
  if (Intercept(CallKind::Delete, error)) return false;
  return inner_.DeleteFile(path, error);
}

bool FaultyPlatform::RemoveDirectory(const Str& path, Error* error) {
  if (Intercept(CallKind::RemoveDirectory, error)) return false;
  return inner_.RemoveDirectory(path, error);
}

bool FaultyPlatform::MoveFile(const Str& from, const Str& to, Error* error) {
  if (Intercept(CallKind::Rename, error)) return false;
  return inner_.MoveFile(from, to, error);
}

bool FaultyPlatform::CreateDirectory(const Str& path, Error* error) { return inner_.CreateDirectory(path, error); }

bool FaultyPlatform::GetAttributes(const Str& path, std::uint32_t* attributes) {
  return inner_.GetAttributes(path, attributes);
}

bool FaultyPlatform::SetAttributes(const Str& path, std::uint32_t attributes) {
  if (Intercept(CallKind::SetAttributes)) return false;
  return inner_.SetAttributes(path, attributes);
}

bool FaultyPlatform::Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) {
  if (Intercept(CallKind::Enumerate)) return false;
  return inner_.Enumerate(pattern, visit);
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
