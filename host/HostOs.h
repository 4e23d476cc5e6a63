// eshost's own calls to the operating system, kept together: files written durably
// (flushed, their folder flushed), renames, the output folder's lock, stop requests,
// leaving at once, peak memory and SHA-256.
//
// Every write, flush, rename and ledger append of eshost passes through here, so that a
// test can stop the process at the n-th one of a kind (as kill -9 or a power cut would),
// make it fail as a full disk does, or let it hang (the fault seam, FaultSeam.cpp).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace eshost::os {

// Flushing is on unless turned off (--no-sync); off, a crash can lose pages.
void SetSyncEnabled(bool on);
bool SyncEnabled();

// Calls the fault seam counts.
enum class CallKind { kWrite, kFlush, kRename, kAppend };
enum class FaultAction {
  kNone,
  kCrash,     // leave at once, as kill -9 does: what was written stays
  kPowerCut,  // leave at once, and first undo everything not yet flushed
  kNoSpace,   // the call fails as on a full disk (a write writes half its bytes first)
  kHang,      // the call never returns
};
struct Fault {
  FaultAction action = FaultAction::kNone;
  CallKind kind = CallKind::kWrite;
  std::int64_t at = 0;  // the n-th call of `kind`, from 1
};
// Parses ACTION:KIND:N (crash|power-cut|enospc|hang : write|flush|rename|append : N).
bool ParseFault(const std::string& text, Fault* fault, std::string* why);
void SetFault(const Fault& fault);
// The exit status of a process the seam stopped.
inline constexpr int kFaultExitStatus = 99;

// A file eshost writes. Not copyable; closed by the destructor (without flushing).
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Creates a file that must not exist yet. `exists` tells that it did.
  static bool CreateNew(const std::filesystem::path& path, File* file, bool* exists, std::string* why);
  // Opens a file for appending, creating it when missing.
  static bool OpenAppend(const std::filesystem::path& path, File* file, std::string* why);

  bool IsOpen() const;
  std::uint64_t Size() const { return size_; }
  // Appends all bytes; `kind` is what the fault seam counts (a ledger record is an append).
  bool Write(const void* data, std::size_t size, std::string* why, CallKind kind = CallKind::kWrite);
  // Data and size on stable storage.
  bool Sync(std::string* why);
  // Cuts the file back, e.g. to drop a record whose write failed half way.
  bool Truncate(std::uint64_t size, std::string* why);
  void Close();

 private:
  friend bool FlushFile(File& file, std::string* why);
  std::filesystem::path path_;
  std::uint64_t size_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Makes the entries created or renamed in a folder durable.
bool SyncFolder(const std::filesystem::path& folder, std::string* why);
// Flushes several files and folders at once: the file system commits them together, at
// about the cost of flushing one. Nothing is durable in any order among them, so use it
// only for what a reader can check afterwards. The fault seam counts them in the order
// given.
struct SyncTarget {
  File* file = nullptr;
  std::filesystem::path folder;  // when `file` is null
};
bool SyncTogether(const std::vector<SyncTarget>& targets, std::string* why);
// Renames a file, replacing `to` if it exists.
bool RenameFile(const std::filesystem::path& from, const std::filesystem::path& to, std::string* why);
// Creates a folder (and its parents) and makes the new entries durable.
bool CreateFolders(const std::filesystem::path& folder, std::string* why);

// An exclusive hold on a folder for one process (released by the destructor).
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when another process holds it (`busy`) or the lock file cannot be had.
  bool Acquire(const std::filesystem::path& lockFile, bool* busy, std::string* why);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// SIGINT/SIGTERM (console events on Windows) set `flag`.
void InstallStopHandlers(std::atomic<bool>* flag);
// Ends the process at once: no clean-up, no flushing, as kill -9 would.
[[noreturn]] void LeaveNow(int status);
// Writes a line straight to stderr (safe while other threads are stuck).
void WriteStderr(const std::string& text);
long long PeakMemoryKib();
bool StderrIsTerminal();

// SHA-256, fed piece by piece.
class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, std::size_t size);
  Digest Final();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace eshost::os
