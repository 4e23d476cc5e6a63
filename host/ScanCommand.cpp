// eshost scan: every available group of every registered storage (--unattended), the
// groups chosen in the scan dialog (Windows), or the groups named on the command line
// (--storage, --group; see GroupsCommand.cpp), with the pages written to an output folder,
// unattended also again and again as a service.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "Brivel.h"
#include "Tessard.h"
#include "host/Commands.h"
#include "host/HostCallback.h"
#include "host/ModuleLoader.h"
#include "host/Receipt.h"
#include "host/Session.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace eshost {

namespace {

// The most memory the process has held so far, in KiB.
long long PeakMemoryKib() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
#else
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD) {
  HostCallback::interrupted = true;
  return TRUE;
}
void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
#else
void OnSignal(int) { HostCallback::interrupted = true; }
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
#endif

// Where the module's trace lines and message boxes go during a scan.
class Observers {
 public:
  Observers(const ScanOptions& options, Receipt* receipt) : receipt_(receipt) {
    if (!options.tracePath.empty()) trace_.open(options.tracePath, std::ios::app | std::ios::binary);
    if (!options.messagesPath.empty()) messages_.open(options.messagesPath, std::ios::app | std::ios::binary);
    TessardSetSink(&Observers::OnTrace, this);
    BrivelSetPresenter(&Observers::OnMessage, this);
  }
  ~Observers() {
    BrivelSetPresenter(nullptr, nullptr);
    TessardSetSink(nullptr, nullptr);
  }
  Observers(const Observers&) = delete;
  Observers& operator=(const Observers&) = delete;
  bool TraceOk(const ScanOptions& o) const { return o.tracePath.empty() || trace_.is_open(); }
  bool MessagesOk(const ScanOptions& o) const { return o.messagesPath.empty() || messages_.is_open(); }
  int Boxes() const { return boxes_; }

 private:
  static void OnTrace(void* context, const TessardRecord* r) {
    auto* self = static_cast<Observers*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->trace_.is_open()) self->trace_ << r->lineUtf8 << "\n" << std::flush;
    static const std::u16string kStart = u"Directory to scan: '";
    const std::u16string text = r->text != nullptr ? r->text : u"";
    if (text.rfind(kStart, 0) == 0 && text.size() > kStart.size() + 1)
      self->receipt_->DocumentStarted(Utf16To8(text.substr(kStart.size(), text.size() - kStart.size() - 1)));
  }
  static int OnMessage(void* context, const BrivelEvent* e) {
    auto* self = static_cast<Observers*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    const std::string text = e->text != nullptr ? Utf16To8(e->text) : "";
    nlohmann::ordered_json line;
    line["op"] = e->op;
    if (std::string(e->op) == "MessageBoxId" || std::string(e->op) == "ShowContextHelp") line["id"] = e->id;
    line["text"] = text;
    line["style"] = e->style;
    if (self->messages_.is_open()) self->messages_ << line.dump() << "\n" << std::flush;
    std::cerr << "eshost: message: " << text << "\n";
    self->receipt_->Message(text);
    ++self->boxes_;
    return 1;
  }
  Receipt* receipt_;
  std::ofstream trace_;
  std::ofstream messages_;
  std::mutex mutex_;
  int boxes_ = 0;
};

// One scan: every registered storage (unattended), or the groups chosen in the dialog.
int ScanOnce(Session& session, const ScanOptions& options, std::int64_t* pagesSoFar) {
  const ElementSettings settings = session.ReadSettings();
  Receipt receipt;
  // With chosen groups, the receipt tells of those groups only.
  if (options.groups.empty()) {
    receipt.TakeInventory(settings.directories);
  } else {
    receipt.TakeInventory({options.storage}, options.groups);
  }
  Observers observers(options, &receipt);
  if (!observers.TraceOk(options)) {
    std::cerr << "eshost: " << options.tracePath << ": trace file cannot be written\n";
    return 2;
  }
  if (!observers.MessagesOk(options)) {
    std::cerr << "eshost: " << options.messagesPath << ": messages file cannot be written\n";
    return 2;
  }
  if (settings.directories.empty()) {
    std::cerr << "eshost: no External Storage is registered in " << session.Store()->Path().string()
              << "; nothing to import (register one with: eshost register DIR)\n";
  }

  CallbackOptions callbackOptions;
  callbackOptions.outDir = options.outDir;
  callbackOptions.discard = options.discard;
  callbackOptions.refuseAt = options.refuseAt > 0 ? options.refuseAt - *pagesSoFar : 0;
  callbackOptions.cancelAt = options.cancelAt > 0 ? options.cancelAt - *pagesSoFar : 0;
  callbackOptions.unattended = options.unattended;
  callbackOptions.progress = StderrIsTerminal() && !options.quiet;
  HostCallback callback(callbackOptions);
  std::string error;
  if (!callback.Open(&error)) {
    std::cerr << "eshost: " << error << "\n";
    return 2;
  }
  callback.onPage = [&](bool accepted) { receipt.PageHandedOver(accepted); };
  if (options.groups.empty()) {
    session.Element()->Scan(nullptr, 0, &callback);
  } else if (const int chosen = ScanChosenGroups(session, options, callback, std::cerr); chosen != 0) {
    return chosen;
  }
  *pagesSoFar += callback.Calls();
  nlohmann::ordered_json report = receipt.Finish(!options.receiptPath.empty());
  report["peak_memory_kib"] = PeakMemoryKib();

  if (!options.receiptPath.empty()) {
    std::ofstream out(options.receiptPath, std::ios::binary | std::ios::trunc);
    out << report.dump(2) << "\n";
    if (!out) {
      std::cerr << "eshost: " << options.receiptPath << ": receipt cannot be written\n";
      return 2;
    }
  }
  if (!options.quiet) {
    const std::size_t storages = options.groups.empty() ? settings.directories.size() : 1;
    std::cout << "Scanned " << storages << " storage(s), " << receipt.Groups() << " group(s): "
              << callback.Accepted() << " page(s) accepted of " << callback.Calls() << " handed over; "
              << receipt.Imported() << " document(s) imported, " << receipt.Deleted() << " deleted, "
              << receipt.Kept() << " kept";
    if (observers.Boxes() > 0) std::cout << "; " << observers.Boxes() << " message(s)";
    std::cout << "; peak memory " << PeakMemoryKib() << " KiB.\n";
    if (!options.discard && callback.Calls() > 0)
      std::cout << "Pages and manifest: " << (options.outDir / "manifest.jsonl").string() << "\n";
  }
  if (!callback.WriteError().empty()) {
    std::cerr << "eshost: " << callback.WriteError() << "\n";
    return 2;
  }
  return 0;
}

}  // namespace

int RunScan(const GlobalOptions& global, const ScanOptions& options) {
  if (!options.unattended && options.groups.empty()) {
#ifndef _WIN32
    std::cerr << "eshost: scan: the scan dialog needs Windows; use --unattended, or choose groups with "
                 "--storage DIR --group NAME\n";
    return 2;
#endif
  }
  if (!options.unattended && options.everySeconds > 0) {
    std::cerr << "eshost: scan: --every needs --unattended\n";
    return 2;
  }
  // Before anything else: a stop that arrives while the module loads still ends cleanly.
  InstallStopHandlers();
  Session session;
  std::string error;
  if (!session.Open(global, &error)) {
    std::cerr << "eshost: " << error << "\n";
    return 2;
  }
  std::int64_t pages = 0;
  if (options.everySeconds <= 0) return ScanOnce(session, options, &pages);
  // As a service: scan, wait, scan again, until stopped. A stop during an import ends
  // it at the next page, as the host asking to stop does; nothing is lost.
  for (int run = 1; !HostCallback::interrupted.load(); ++run) {
    const int status = ScanOnce(session, options, &pages);
    if (status != 0) return status;
    if (options.runs > 0 && run >= options.runs) break;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.everySeconds);
    while (!HostCallback::interrupted.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

}  // namespace eshost
