#include "tests/support/Process.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace estest {

namespace fs = std::filesystem;

namespace {
fs::path TempName(const char* suffix) {
  static std::mt19937_64 rng{std::random_device{}()};
  return fs::temp_directory_path() / ("es-proc-" + std::to_string(rng()) + suffix);
}
}  // namespace

fs::path Program(const std::string& name) {
#ifdef _WIN32
  return BinFolder() / (name + ".exe");
#else
  return BinFolder() / name;
#endif
}

#ifdef _WIN32
namespace {
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}
std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}
}  // namespace

Process::Process(const fs::path& program, const std::vector<std::string>& args) {
  outFile_ = TempName(".out");
  errFile_ = TempName(".err");
  std::wstring command = Quote(program.wstring());
  for (const auto& a : args) command += L" " + Quote(Wide(a));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = CreateFileW(outFile_.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileW(errFile_.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                            nullptr, &si, &pi) != 0;
  CloseHandle(out);
  CloseHandle(err);
  if (started_) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    processId_ = pi.dwProcessId;
  }
}

Process::~Process() {
  if (process_ != nullptr) CloseHandle(process_);
  std::error_code ec;
  fs::remove(outFile_, ec);
  fs::remove(errFile_, ec);
}

void Process::Stop() {
  if (started_) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId_);
}

void Process::Kill() {
  if (started_) TerminateProcess(process_, 137);
}

ProcessResult Process::Wait() {
  ProcessResult r;
  if (started_) {
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    r.exitCode = static_cast<int>(code);
  }
  r.out = ReadFile(outFile_);
  r.err = ReadFile(errFile_);
  return r;
}
#else
Process::Process(const fs::path& program, const std::vector<std::string>& args) {
  outFile_ = TempName(".out");
  errFile_ = TempName(".err");
  pid_ = fork();
  if (pid_ == 0) {
    const int out = open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  started_ = pid_ > 0;
}

Process::~Process() {
  std::error_code ec;
  fs::remove(outFile_, ec);
  fs::remove(errFile_, ec);
}

void Process::Stop() {
  if (started_) kill(pid_, SIGTERM);
}

void Process::Kill() {
  if (started_) kill(pid_, SIGKILL);
}

ProcessResult Process::Wait() {
  ProcessResult r;
  if (started_) {
    int status = 0;
    waitpid(pid_, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    started_ = false;
  }
  r.out = ReadFile(outFile_);
  r.err = ReadFile(errFile_);
  return r;
}
#endif

}  // namespace estest
