#include "host/HostOs.h"

#include "host/FaultSeam.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#include <io.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace eshost::os {

namespace fs = std::filesystem;
using namespace seam;

namespace {

std::atomic<bool> syncEnabled{true};

#ifdef _WIN32
std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (buffer != nullptr) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, buffer, -1, nullptr, 0, nullptr, nullptr);
    if (n > 1) {
      text.resize(static_cast<std::size_t>(n - 1));
      WideCharToMultiByte(CP_UTF8, 0, buffer, -1, text.data(), n, nullptr, nullptr);
    }
    LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}
std::string LastError() { return ErrorText(GetLastError()); }
#else
std::string LastError() { return std::strerror(errno); }
#endif

}  // namespace

bool FlushFile(File& file, std::string* why);
bool FlushFolder(const fs::path& folder, std::string* why);

void SetSyncEnabled(bool on) { syncEnabled = on; }
bool SyncEnabled() { return syncEnabled.load(); }

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    size_ = other.size_;
#ifdef _WIN32
    handle_ = other.handle_;
    other.handle_ = nullptr;
#else
    fd_ = other.fd_;
    other.fd_ = -1;
#endif
  }
  return *this;
}

bool File::Write(const void* data, std::size_t size, std::string* why, CallKind kind) {
  const FaultAction action = Count(kind);
  std::size_t wanted = size;
  if (action == FaultAction::kCrash || action == FaultAction::kPowerCut || action == FaultAction::kNoSpace)
    wanted = size / 2;  // a write cut short
  if (action == FaultAction::kHang) Stop(action, kind);
  NoteWrite(path_, size_);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::size_t done = 0;
  while (done < wanted) {
#ifdef _WIN32
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wanted - done, 1u << 30));
    if (!WriteFile(static_cast<HANDLE>(handle_), bytes + done, chunk, &n, nullptr) || n == 0) {
      *why = LastError();
      return false;
    }
#else
    const ssize_t n = ::write(fd_, bytes + done, wanted - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = n < 0 ? LastError() : NoSpaceText();
      return false;
    }
#endif
    done += static_cast<std::size_t>(n);
    size_ += static_cast<std::uint64_t>(n);
  }
  if (action == FaultAction::kCrash || action == FaultAction::kPowerCut) Stop(action, kind);
  if (action == FaultAction::kNoSpace) {
    *why = NoSpaceText();
    return false;
  }
  return true;
}

bool File::Sync(std::string* why) {
  if (!syncEnabled) return true;
  if (!Pass(CallKind::kFlush, why)) return false;
  return FlushFile(*this, why);
}

bool SyncFolder(const fs::path& folder, std::string* why) {
  if (!syncEnabled) return true;
  if (!Pass(CallKind::kFlush, why)) return false;
  return FlushFolder(folder, why);
}

namespace {
// A few threads that flush while the caller flushes too.
class Flushers {
 public:
  ~Flushers() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }
  // Runs every job, some on other threads, and returns when all have ended.
  void Run(std::vector<std::function<void()>>& jobs) {
    if (jobs.empty()) return;
    std::unique_lock<std::mutex> hold(mutex_);
    while (threads_.size() < 3) threads_.emplace_back([this] { Work(); });
    for (std::size_t i = 1; i < jobs.size(); ++i) queue_.push_back(&jobs[i]);
    open_ += jobs.size() - 1;
    hold.unlock();
    wake_.notify_all();
    jobs[0]();
    hold.lock();
    done_.wait(hold, [this] { return open_ == 0; });
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
      wake_.wait(hold, [this] { return ending_ || !queue_.empty(); });
      if (queue_.empty()) return;
      std::function<void()>* job = queue_.front();
      queue_.pop_front();
      hold.unlock();
      (*job)();
      hold.lock();
      if (--open_ == 0) done_.notify_all();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<std::function<void()>*> queue_;
  std::size_t open_ = 0;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};
}  // namespace

bool SyncTogether(const std::vector<SyncTarget>& targets, std::string* why) {
  if (!syncEnabled) return true;
  // The flushes run at once and finish in any order: when the seam stops the n-th, the
  // others of the group are taken to have finished, the worst case for the one left.
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const FaultAction action = Count(CallKind::kFlush);
    if (action == FaultAction::kNone) continue;
    if (action == FaultAction::kNoSpace) {
      *why = NoSpaceText();
      return false;
    }
    if (action == FaultAction::kHang) Stop(action, CallKind::kFlush);
    for (std::size_t k = 0; k < targets.size(); ++k) {
      std::string ignored;
      if (k == i) continue;
      if (targets[k].file != nullptr) {
        FlushFile(*targets[k].file, &ignored);
      } else {
        FlushFolder(targets[k].folder, &ignored);
      }
    }
    Stop(action, CallKind::kFlush);
  }
  static Flushers flushers;
  std::vector<std::string> errors(targets.size());
  std::vector<std::function<void()>> jobs;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    jobs.emplace_back([&, i] {
      if (targets[i].file != nullptr) {
        FlushFile(*targets[i].file, &errors[i]);
      } else {
        FlushFolder(targets[i].folder, &errors[i]);
      }
    });
  }
  flushers.Run(jobs);
  for (const auto& e : errors) {
    if (!e.empty()) {
      *why = e;
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
// Readers may look at the output while it is written; the folder lock keeps other
// writers out. The fault seam's power cut cuts and removes files that are still open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool File::CreateNew(const fs::path& path, File* file, bool* exists, std::string* why) {
  *exists = false;
  HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    *why = ErrorText(code);
    return false;
  }
  file->Close();
  file->handle_ = h;
  file->path_ = path;
  file->size_ = 0;
  NoteCreated(path);
  return true;
}

bool File::OpenAppend(const fs::path& path, File* file, std::string* why) {
  HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *why = LastError();
    return false;
  }
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  LARGE_INTEGER size{};
  LARGE_INTEGER zero{};
  if (!GetFileSizeEx(h, &size) || !SetFilePointerEx(h, zero, nullptr, FILE_END)) {
    *why = LastError();
    CloseHandle(h);
    return false;
  }
  file->Close();
  file->handle_ = h;
  file->path_ = path;
  file->size_ = static_cast<std::uint64_t>(size.QuadPart);
  if (created) NoteCreated(path);
  return true;
}

bool File::IsOpen() const { return handle_ != nullptr; }

bool File::Truncate(std::uint64_t size, std::string* why) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(static_cast<HANDLE>(handle_), at, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(static_cast<HANDLE>(handle_))) {
    *why = LastError();
    return false;
  }
  size_ = size;
  NoteTruncated(path_, size);
  return true;
}

void File::Close() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool FlushFile(File& file, std::string* why) {
  if (!FlushFileBuffers(static_cast<HANDLE>(file.handle_))) {
    *why = file.path_.string() + ": " + LastError();
    return false;
  }
  NoteFlushed(file.path_);
  return true;
}

bool FlushFolder(const fs::path& folder, std::string* why) {
  // NTFS records new and renamed entries in its own log; flushing the folder handle
  // commits them now where the file system allows it.
  HANDLE h = CreateFileW(folder.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    FlushFileBuffers(h);
    CloseHandle(h);
  }
  NoteFolderFlushed(folder);
  return true;
}

bool RenameFile(const fs::path& from, const fs::path& to, std::string* why) {
  if (!Pass(CallKind::kRename, why)) return false;
  NoteRename(from, to);
  if (!MoveFileExW(from.wstring().c_str(), to.wstring().c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *why = LastError();
    return false;
  }
  return true;
}

FolderLock::~FolderLock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

bool FolderLock::Acquire(const fs::path& lockFile, bool* busy, std::string* why) {
  *busy = false;
  HANDLE h = CreateFileW(lockFile.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *busy = code == ERROR_SHARING_VIOLATION;
    *why = ErrorText(code);
    return false;
  }
  handle_ = h;
  return true;
}

namespace {
std::atomic<bool>* stopFlag = nullptr;
BOOL WINAPI OnConsoleControl(DWORD) {
  if (stopFlag != nullptr) stopFlag->store(true);
  return TRUE;
}
}  // namespace

void InstallStopHandlers(std::atomic<bool>* flag) {
  stopFlag = flag;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void LeaveNow(int status) {
  // Not ExitProcess: the loaded module must not be told the process is ending.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) Sleep(INFINITE);
}

void WriteStderr(const std::string& text) {
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
}

long long PeakMemoryKib() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {
BCRYPT_ALG_HANDLE Sha256Provider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) h = nullptr;
    return h;
  }();
  return provider;
}
}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
  BCryptCreateHash(Sha256Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0);
}

Sha256::~Sha256() {
  if (state_->hash != nullptr) BCryptDestroyHash(state_->hash);
}

void Sha256::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
    BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), chunk, 0);
    bytes += chunk;
    size -= chunk;
  }
}

Sha256::Digest Sha256::Final() {
  Digest out{};
  BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0);
  return out;
}
#else
bool File::CreateNew(const fs::path& path, File* file, bool* exists, std::string* why) {
  *exists = false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *exists = errno == EEXIST;
    *why = LastError();
    return false;
  }
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  file->size_ = 0;
  NoteCreated(path);
  return true;
}

bool File::OpenAppend(const fs::path& path, File* file, std::string* why) {
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = LastError();
    return false;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    *why = LastError();
    ::close(fd);
    return false;
  }
  file->Close();
  file->fd_ = fd;
  file->path_ = path;
  file->size_ = static_cast<std::uint64_t>(end);
  if (!existed) NoteCreated(path);
  return true;
}

bool File::IsOpen() const { return fd_ >= 0; }

bool File::Truncate(std::uint64_t size, std::string* why) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0 || ::lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
    *why = LastError();
    return false;
  }
  size_ = size;
  NoteTruncated(path_, size);
  return true;
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool FlushFile(File& file, std::string* why) {
  if (::fdatasync(file.fd_) != 0) {
    *why = file.path_.string() + ": " + LastError();
    return false;
  }
  NoteFlushed(file.path_);
  return true;
}

bool FlushFolder(const fs::path& folder, std::string* why) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    *why = folder.string() + ": " + LastError();
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  NoteFolderFlushed(folder);
  return true;
}

bool RenameFile(const fs::path& from, const fs::path& to, std::string* why) {
  if (!Pass(CallKind::kRename, why)) return false;
  NoteRename(from, to);
  if (::rename(from.c_str(), to.c_str()) != 0) {
    *why = LastError();
    return false;
  }
  return true;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderLock::Acquire(const fs::path& lockFile, bool* busy, std::string* why) {
  *busy = false;
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = LastError();
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *busy = errno == EWOULDBLOCK;
    *why = LastError();
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

namespace {
std::atomic<bool>* stopFlag = nullptr;
void OnSignal(int) {
  if (stopFlag != nullptr) stopFlag->store(true);
}
}  // namespace

void InstallStopHandlers(std::atomic<bool>* flag) {
  stopFlag = flag;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void LeaveNow(int status) { ::_exit(status); }

void WriteStderr(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

long long PeakMemoryKib() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // Looked up once: finding the algorithm costs more than hashing a ledger record.
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  state_->context = EVP_MD_CTX_new();
  if (state_->context != nullptr) EVP_DigestInit_ex(state_->context, algorithm, nullptr);
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::Update(const void* data, std::size_t size) {
  if (state_->context != nullptr) EVP_DigestUpdate(state_->context, data, size);
}

Sha256::Digest Sha256::Final() {
  Digest out{};
  unsigned int n = 0;
  if (state_->context != nullptr) EVP_DigestFinal_ex(state_->context, out.data(), &n);
  return out;
}
#endif

bool CreateFolders(const fs::path& folder, std::string* why) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  const fs::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder && !CreateFolders(parent, why)) return false;
  if (!fs::create_directory(folder, ec) && !fs::is_directory(folder)) {
    *why = folder.string() + ": " + (ec ? ec.message() : std::string("cannot be created"));
    return false;
  }
  NoteCreated(folder);
  return SyncFolder(parent.empty() ? fs::path(".") : parent, why);
}

}  // namespace eshost::os
