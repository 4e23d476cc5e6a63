// A backend for tests that forwards to another one and fails on purpose: at the n-th
// call of a kind it fails the call, runs an action in its place (a test throws from it
// to stop the import as a crash would), or runs an action just before it (a test changes
// the storage under the caller). Calls are counted per kind from construction.
#pragma once

#include <array>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/Platform.h"

namespace es::platform {

class FaultyPlatform : public IPlatform {
 public:
  explicit FaultyPlatform(IPlatform& inner = NativePlatform());
  FaultyPlatform(const FaultyPlatform&) = delete;
  FaultyPlatform& operator=(const FaultyPlatform&) = delete;

  // Fails calls number n, n+1, ... n+times-1 (counting from 1) of `kind`: false,
  // kInvalidFile or kInvalidFolder, with `reason` where the call reports one (Error::Io
  // plays a flaky network share). LastErrorText then says "injected: " and the reason.
  void FailAt(CallKind kind, int n, int times = 1, Error reason = Error::Injected);
  // At the n-th call counted over all of `kinds` together, runs `action` instead of the
  // call. When the action returns, the call fails with Error::Injected.
  void RunAt(std::initializer_list<CallKind> kinds, int n, std::function<void()> action);
  // At the n-th call counted over all of `kinds` together, runs `action` and then lets
  // the call proceed as usual.
  void RunBefore(std::initializer_list<CallKind> kinds, int n, std::function<void()> action);
  // Forgets every planned failure; counts stay.
  void Clear();
  // Calls of `kind` so far, failed ones included.
  int Count(CallKind kind) const;

  FileHandle OpenFile(const Str& path, Access access, Share share, Disposition disposition,
                      Error* error) override;
  bool FileSize(FileHandle file, std::uint64_t* size) override;
  bool Seek(FileHandle file, std::uint64_t offset) override;
  bool Read(FileHandle file, void* buffer, std::size_t count, std::size_t* got) override;
  bool Write(FileHandle file, const void* buffer, std::size_t count) override;
  void Close(FileHandle file) override;
  bool DeleteFile(const Str& path, Error* error) override;
  bool RemoveDirectory(const Str& path, Error* error) override;
  bool MoveFile(const Str& from, const Str& to, Error* error) override;
  bool CreateDirectory(const Str& path, Error* error) override;
  bool GetAttributes(const Str& path, std::uint32_t* attributes) override;
  bool SetAttributes(const Str& path, std::uint32_t attributes) override;
  bool Enumerate(const Str& pattern, const std::function<bool(const DirEntry&)>& visit) override;
  FolderHandle OpenFolder(const Str& path, bool followLink, Error* error) override;
  FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error) override;
  void CloseFolder(FolderHandle folder) override;
  bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit,
                  Error* error) override;
  bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error) override;
  FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                        Error* error) override;
  bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error) override;
  bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error) override;
  bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error) override;
  bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error) override;
  Str LastErrorText() override;
  Str AnsiToUtf16(const char* bytes, std::size_t count) override;
  bool Utf16ToAnsi(const Str& text, std::string* bytes) override;
  bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) override;
  bool UserName(std::size_t capacity, Str* name) override;
  bool ComputerName(std::size_t capacity, Str* name) override;
  void* ModuleHandleByName(const Str& name) override;
  Str ModuleFileName(void* module) override;
  std::int64_t UnixTime() override;
  int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) override;

 private:
  static constexpr std::size_t kKinds = static_cast<std::size_t>(CallKind::Stat) + 1;

  struct Failure {
    CallKind kind;
    int first;
    int last;
    Error reason;
  };
  struct Action {
    std::vector<CallKind> kinds;
    int n;
    std::function<void()> run;
    bool instead;  // the call fails after the action
    bool done = false;
  };

  // Counts the call and runs the actions due; true when the call is to fail, with its
  // reason in `error` and kept as the thread's last failure.
  bool Intercept(CallKind kind, Error* error = nullptr);
  // The result of a forwarded call; a failure there is the thread's last one, not ours.
  bool Forwarded(bool ok);
  template <typename Handle>
  Handle Forwarded(Handle result, Handle failed) {
    Forwarded(result != failed);
    return result;
  }

  IPlatform& inner_;
  mutable std::mutex mutex_;
  std::array<int, kKinds> counts_{};
  std::vector<Failure> failures_;
  std::vector<Action> actions_;
};

// Installs a backend for the life of the scope and puts the previous one back.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(IPlatform& platform) : previous_(SetPlatform(&platform)) {}
  ~ScopedPlatform() { SetPlatform(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  IPlatform* previous_;
};

}  // namespace es::platform
