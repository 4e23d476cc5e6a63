// eshost scan: every available group of every registered storage (--unattended), the
// groups chosen in the scan dialog (Windows), or the groups named on the command line
// (--storage, --group; see GroupsCommand.cpp), with the pages written to an output folder,
// unattended also again and again as a service.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "Brivel.h"
#include "LunmereUtf8.h"
#include "Tessard.h"
#include "host/Commands.h"
#include "host/HostCallback.h"
#include "host/HostOs.h"
#include "host/ModuleLoader.h"
#include "host/OutputFolder.h"
#include "host/Receipt.h"
#include "host/Session.h"

namespace eshost {

namespace {

// How long a stop request may wait for the scan to end before eshost leaves anyway.
constexpr auto kStopGrace = std::chrono::seconds(3);
// The exit status when eshost left without waiting for the scan to end.
constexpr int kExitStoppedAtOnce = 3;

// A stop request is seen by the module only when it hands over the next page. A module
// busy for long without one, or a write that hangs, would hold the process: this thread
// ends it after a grace period. Leaving at any moment is safe, as a page is answered
// "accepted" only once it is on stable storage and the module deletes a document only
// after that answer.
class StopWatch {
 public:
  StopWatch() : thread_([this] { Run(); }) {}
  ~StopWatch() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  StopWatch(const StopWatch&) = delete;
  StopWatch& operator=(const StopWatch&) = delete;

 private:
  void Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    std::chrono::steady_clock::time_point seen{};
    while (!done_) {
      wake_.wait_for(hold, std::chrono::milliseconds(50));
      if (done_ || !HostCallback::interrupted.load()) continue;
      const auto now = std::chrono::steady_clock::now();
      if (seen == std::chrono::steady_clock::time_point{}) {
        seen = now;
      } else if (now - seen >= kStopGrace) {
        os::WriteStderr("eshost: stop requested and the scan has not ended; leaving now without waiting for it "
                        "(every page answered \"accepted\" is in the output folder)\n");
        os::LeaveNow(kExitStoppedAtOnce);
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

// Where the module's trace lines and message boxes go during a scan.
class Observers {
 public:
  Observers(const ScanOptions& options, Receipt* receipt, OutputFolder* output) : receipt_(receipt), output_(output) {
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
    if (text.rfind(kStart, 0) == 0 && text.size() > kStart.size() + 1) {
      const std::string path = Utf16To8(text.substr(kStart.size(), text.size() - kStart.size() - 1));
      self->receipt_->DocumentStarted(path);
      if (self->output_ != nullptr) self->output_->DocumentStarted(path);
    }
  }
  static int OnMessage(void* context, const BrivelEvent* e) {
    auto* self = static_cast<Observers*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    const std::string text = e->text != nullptr ? Utf16To8(e->text) : "";
    // A damaged-pages report for a document sent again unchanged was shown before.
    const bool show = std::string(e->op) != "MessageBoxText" || self->output_ == nullptr ||
                      self->output_->ShouldShow(text);
    nlohmann::ordered_json line;
    line["op"] = e->op;
    if (std::string(e->op) == "MessageBoxId" || std::string(e->op) == "ShowContextHelp") line["id"] = e->id;
    line["text"] = text;
    line["style"] = e->style;
    if (!show) line["shown"] = false;
    if (self->messages_.is_open()) self->messages_ << line.dump() << "\n" << std::flush;
    self->receipt_->Message(text);
    if (!show) {
      if (self->trace_.is_open())
        self->trace_ << Timestamp() << "\tsev=6\teshost:0\tnot shown again, the document came again unchanged: "
                     << Escaped(text) << "\n"
                     << std::flush;
      return 1;
    }
    // Names in the text come from the storage: each of its lines escaped, nothing raw;
    // the lines after the first are indented under it.
    const std::u16string wide = e->text != nullptr ? std::u16string(e->text) : std::u16string();
    const char* prefix = "eshost: message: ";
    std::size_t from = 0;
    do {
      const std::size_t end = std::min(wide.find(u'\n', from), wide.size());
      std::cerr << prefix << lunmere::EscapeForLine(std::u16string_view(wide).substr(from, end - from)) << "\n";
      prefix = "eshost:          ";
      from = end + 1;
    } while (from < wide.size());
    ++self->boxes_;
    return 1;
  }
  static std::string Timestamp() {
    return IsoTime(std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count());
  }
  static std::string Escaped(std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.replace(at, 1, "\\n");
    return text;
  }
  Receipt* receipt_;
  OutputFolder* output_;
  std::ofstream trace_;
  std::ofstream messages_;
  std::mutex mutex_;
  int boxes_ = 0;
};

// One scan: every registered storage (unattended), or the groups chosen in the dialog.
// 0 done; 1 a page could not be stored (it was refused); 2 the scan could not run.
int ScanOnce(Session& session, const ScanOptions& options, OutputFolder* output, std::int64_t* pagesSoFar) {
  const ElementSettings settings = session.ReadSettings();
  Receipt receipt;
  // With chosen groups, the receipt tells of those groups only.
  if (options.groups.empty()) {
    receipt.TakeInventory(settings.directories);
  } else {
    receipt.TakeInventory({options.storage}, options.groups);
  }
  Observers observers(options, &receipt, output);
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
  callbackOptions.discard = options.discard;
  callbackOptions.refuseAt = options.refuseAt > 0 ? options.refuseAt - *pagesSoFar : 0;
  callbackOptions.cancelAt = options.cancelAt > 0 ? options.cancelAt - *pagesSoFar : 0;
  callbackOptions.unattended = options.unattended;
  callbackOptions.progress = os::StderrIsTerminal() && !options.quiet;
  HostCallback callback(callbackOptions, output);
  callback.onPage = [&](bool accepted) { receipt.PageHandedOver(accepted); };
  if (options.groups.empty()) {
    session.Element()->Scan(nullptr, 0, &callback);
  } else if (const int chosen = ScanChosenGroups(session, options, callback, std::cerr); chosen != 0) {
    return chosen;
  }
  *pagesSoFar += callback.Calls();
  nlohmann::ordered_json report = receipt.Finish(!options.receiptPath.empty());
  report["pages_accepted"] = callback.Accepted();
  report["pages_repeated"] = callback.Repeats();
  nlohmann::ordered_json refused = nlohmann::ordered_json::array();
  for (const auto& r : callback.Refused())
    refused.push_back({{"document", r.document}, {"page", r.page}, {"reason", r.reason}});
  report["pages_not_stored"] = refused;
  if (output != nullptr) report["kept_documents"] = KeptDocumentsJson(output->Journal());
  report["peak_memory_kib"] = os::PeakMemoryKib();

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
              << callback.Accepted() << " page(s) accepted of " << callback.Calls() << " handed over";
    if (callback.Repeats() > 0) std::cout << " (" << callback.Repeats() << " held already, not stored again)";
    std::cout << "; " << receipt.Imported() << " document(s) imported, " << receipt.Deleted() << " deleted, "
              << receipt.Kept() << " kept";
    if (observers.Boxes() > 0) std::cout << "; " << observers.Boxes() << " message(s)";
    std::cout << "; peak memory " << os::PeakMemoryKib() << " KiB.\n";
    if (output != nullptr && callback.Calls() > 0)
      std::cout << "Pages and manifest: " << output->ManifestPath().string() << "\n";
  }
  if (!callback.Refused().empty()) {
    std::cerr << "eshost: " << callback.Refused().size()
              << " page(s) could not be stored and were refused; their documents stay in the storage\n";
    return 1;
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
  if (!options.fault.empty()) {
    os::Fault fault;
    std::string why;
    if (!os::ParseFault(options.fault, &fault, &why)) {
      std::cerr << "eshost: scan: --fault " << options.fault << ": " << why << "\n";
      return 2;
    }
    os::SetFault(fault);
  }
  os::SetSyncEnabled(!options.noSync);
  // Before anything else: a stop that arrives while the module loads still ends cleanly.
  os::InstallStopHandlers(&HostCallback::interrupted);
  StopWatch watch;
  Session session;
  if (!session.Open(global, std::cerr)) return 2;
  std::string error;
  OutputFolder output;
  if (!options.discard) {
    std::vector<std::string> notes;
    bool busy = false;
    const bool opened = output.Open({options.outDir, options.rememberDays}, &notes, &busy, &error);
    for (const auto& note : notes) std::cerr << "eshost: " << note << "\n";
    if (!opened) {
      std::cerr << "eshost: " << error << "\n";
      return 2;
    }
  }
  OutputFolder* out = options.discard ? nullptr : &output;
  std::int64_t pages = 0;
  if (options.everySeconds <= 0) return ScanOnce(session, options, out, &pages);
  // As a service: scan, wait, scan again, until stopped. A stop during an import ends
  // it at the next page, as the host asking to stop does; nothing is lost. A page that
  // cannot be stored is refused and tried again by the next scan.
  int status = 0;
  for (int run = 1; !HostCallback::interrupted.load(); ++run) {
    const int scanned = ScanOnce(session, options, out, &pages);
    if (scanned == 2) return scanned;
    status = std::max(status, scanned);
    if (options.runs > 0 && run >= options.runs) break;
    if (out != nullptr && !out->Maintain(&error)) std::cerr << "eshost: warning: " << error << "\n";
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.everySeconds);
    while (!HostCallback::interrupted.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return status;
}

}  // namespace eshost
