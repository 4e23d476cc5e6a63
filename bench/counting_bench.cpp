// Counting the documents of a large storage, as the scan dialog does it: 5,000 groups of 20
// document folders (100,000 folders). Measures
//   (a) the time until the dialog shows its first rows and (b) until every count arrived,
//       opening the dialog on the headless view;
//   (c) counting every group one after the other, against the machine's own floor:
//       find DIR -mindepth 2 -maxdepth 2 -type d over the same tree.
// Prints times and ratios; the goal is (c) / find <= 1.5. Best of several runs each, the
// tree's folder entries cached by a first listing. No time is asserted.
// Usage: counting_bench [GROUPS [DOCUMENTS]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "frame/App.h"
#include "base/ModuleState.h"
#include "platform/Platform.h"
#include "producer/Producer.h"
#include "resources/ResourceIds.h"
#include "storage/Layout.h"
#include "storage/Listing.h"
#include "ui/DlgScan.h"
#include "ui/EnumerationWorker.h"
#include "ui/HeadlessView.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Numbered(const char* prefix, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%05d", prefix, n);
  return text;
}

// Written once per run with the producer kit: a lock file naming each group, empty
// document folders.
bool BuildStorage(const fs::path& root, int groups, int documents) {
  fs::create_directories(root);
  for (int g = 0; g < groups; ++g) {
    esproduce::GroupPlan group;
    group.folderName = Numbered("Group", g);
    group.lockText = "Group name " + std::to_string(groups - g);
    for (int d = 0; d < documents; ++d) {
      esproduce::DocumentPlan document;
      document.folderName = Numbered("Doc", d);
      group.documents.push_back(std::move(document));
    }
    std::string error;
    if (!esproduce::WriteGroup(root, group, &error)) {
      std::fprintf(stderr, "counting_bench: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

double TimeFind(const fs::path& root) {
  const std::string command = "find '" + root.string() + "' -mindepth 2 -maxdepth 2 -type d > /dev/null";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "counting_bench: find failed\n");
  return Seconds(Clock::now() - start);
}

// Every group counted in the worker's way, one after the other.
double TimeCounting(const fs::path& root, const es::StrArray& folders, long long* documents) {
  const es::Str dir = root.u16string() + es::platform::kPathSep;
  es::StopRequested().store(0);  // a dialog closed before leaves it set
  const auto start = Clock::now();
  long long total = 0;
  for (const es::Str& folder : folders)
    total += std::atoll(es::ToUtf8(es::CountDocuments(es::layout::ListingPattern(dir + folder))).c_str());
  const double seconds = Seconds(Clock::now() - start);
  *documents = total;
  return seconds;
}

struct DialogTimes {
  double firstRows = 0;
  double allCounts = 0;
  int rows = 0;
};

DialogTimes TimeDialog(const fs::path& root) {
  DialogTimes times;
  es::HeadlessDesk desk;
  es::CDlgScan dialog(nullptr);
  dialog.registeredDirectories = {root.u16string()};
  dialog.storageNames = {u"Bench"};
  dialog.preselectedDirectory = root.u16string();
  Clock::time_point opened;
  desk.AddScript(IDD_SCAN, es::HeadlessScript{
                               [&](es::HeadlessView&) { opened = Clock::now(); },
                               [&](es::HeadlessView& v) {
                                 times.firstRows = Seconds(Clock::now() - opened);
                                 times.rows = v.ItemCount(IDC_GROUP_LIST);
                                 int next = 0;  // rows before `next` have their counts
                                 v.Pump(600000, [&] {
                                   while (next < times.rows && v.ItemText(IDC_GROUP_LIST, next, 1) != u"?") ++next;
                                   return next == times.rows;
                                 });
                                 times.allCounts = Seconds(Clock::now() - opened);
                               }});
  dialog.DoModal();
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const int groups = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int documents = argc > 2 ? std::atoi(argv[2]) : 20;
  es::ModuleAttach(es::platform::ThisModuleHandle());
  es::ModuleStateScope strings;

  std::random_device random;
  const fs::path root = fs::temp_directory_path() / ("es-counting-bench-" + std::to_string(random()));
  std::printf("Building %d groups of %d document folders in %s ...\n", groups, documents, root.c_str());
  std::fflush(stdout);
  if (!BuildStorage(root, groups, documents)) return 1;

  es::StrArray folders;
  es::StrArray names;
  es::DiscoverGroups(root.u16string(), folders, names);
  TimeFind(root);  // the tree's entries into the cache

  double find = 1e9, counting = 1e9, firstRows = 1e9, allCounts = 1e9;
  long long counted = 0;
  int rows = 0;
  for (int run = 0; run < kRuns; ++run) {
    find = std::min(find, TimeFind(root));
    counting = std::min(counting, TimeCounting(root, folders, &counted));
    const DialogTimes dialog = TimeDialog(root);
    firstRows = std::min(firstRows, dialog.firstRows);
    allCounts = std::min(allCounts, dialog.allCounts);
    rows = dialog.rows;
  }
  std::error_code error;
  fs::remove_all(root, error);

  std::printf("groups listed: %zu, rows shown: %d, documents counted: %lld\n", folders.size(), rows, counted);
  std::printf("(a) dialog, first rows shown:   %8.3f s\n", firstRows);
  std::printf("(b) dialog, every count arrived: %8.3f s   (a)/(b) = %.3f\n", allCounts,
              allCounts > 0 ? firstRows / allCounts : 0.0);
  std::printf("(c) counting every group:        %8.3f s\n", counting);
  std::printf("    find -mindepth 2 -maxdepth 2: %8.3f s   (c)/find = %.2f (goal <= 1.5)\n", find,
              find > 0 ? counting / find : 0.0);
  return folders.size() == static_cast<std::size_t>(groups) && counted == static_cast<long long>(groups) * documents
             ? 0
             : 1;
}
