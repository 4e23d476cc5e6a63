#include "host/OutputFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "Pictorn.h"
#include "Quillet.h"
#include "host/AttrJson.h"

namespace eshost {

namespace fs = std::filesystem;
using nlohmann::ordered_json;

namespace {

// The page attribute that carries the time of the scan, the user and the computer: it
// differs with every scan, so it takes no part in a page's identity.
constexpr std::uint32_t kScanStampId = 0x01080011;
// Documents of this process remembered for matching damaged-pages messages.
constexpr std::size_t kRecentDocuments = 64;
constexpr std::uint64_t kRecompactSlack = 4u << 20;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void PutU64(os::Sha256& sha, std::uint64_t v) {
  std::uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  sha.Update(b, sizeof b);
}

// Feeds a container's attributes in id order, so that the order of setting them does
// not matter.
void HashContainer(os::Sha256& sha, const CAttrContainer* container, bool withoutStamp) {
  if (container == nullptr) {
    PutU64(sha, ~std::uint64_t{0});
    return;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> order;  // id, index
  for (std::uint32_t i = 0; i < container->Count(); ++i) {
    std::uint32_t id = 0;
    AttrVariant value{};
    if (container->GetAt(i, &id, &value) && !(withoutStamp && id == kScanStampId)) order.emplace_back(id, i);
  }
  std::sort(order.begin(), order.end());
  PutU64(sha, order.size());
  for (const auto& [id, index] : order) {
    std::uint32_t ignored = 0;
    AttrVariant value{};
    container->GetAt(index, &ignored, &value);
    PutU64(sha, id);
    PutU64(sha, value.type);
    if (value.type == 0x00 || value.type == 0x02) {
      PutU64(sha, static_cast<std::uint64_t>(static_cast<std::int64_t>(value.number)));
    } else if (value.type == 0x07) {
      PutU64(sha, value.textLength);
      if (value.text != nullptr) sha.Update(value.text, std::size_t{value.textLength} * sizeof(char16_t));
    } else {
      PutU64(sha, value.size);
      if (value.bytes != nullptr) sha.Update(value.bytes, value.size);
    }
  }
}

Key Digest(os::Sha256& sha) { return sha.Final(); }

std::string Stem(std::int64_t seq) {
  char text[32];
  std::snprintf(text, sizeof text, "%06lld", static_cast<long long>(seq));
  return text;
}

std::string FolderName(const std::string& path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Relative(const fs::path& path) { return path.generic_string(); }

Key Sha(const std::uint8_t* data, std::size_t size) {
  os::Sha256 sha;
  sha.Update(data, size);
  return sha.Final();
}

// True when the file holds exactly the bytes of that digest.
bool FileMatches(const fs::path& path, const Key& digest) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  os::Sha256 sha;
  std::vector<char> buffer(1 << 16);
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
    sha.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  return sha.Final() == digest;
}

// The file a manifest line names, checked against the digest the line gives for it.
bool LineFileMatches(const fs::path& dir, const ordered_json& line, const char* fileField, const char* shaField) {
  Key digest{};
  std::error_code ec;
  return line.contains(fileField) && line[fileField].is_string() && line.contains(shaField) &&
         line[shaField].is_string() && KeyFromHex(line[shaField].get<std::string>(), &digest) &&
         fs::is_regular_file(dir / line[fileField].get<std::string>(), ec) &&
         FileMatches(dir / line[fileField].get<std::string>(), digest);
}

}  // namespace

std::string IsoTime(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds t{std::chrono::seconds(seconds)};
  const auto day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss<std::chrono::seconds> time{t - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

ordered_json KeptDocumentsJson(const Ledger& ledger) {
  std::vector<const Ledger::Document*> documents;
  for (const auto& [key, d] : ledger.Documents()) documents.push_back(&d);
  std::sort(documents.begin(), documents.end(),
            [](const Ledger::Document* a, const Ledger::Document* b) { return a->path < b->path; });
  ordered_json out = ordered_json::array();
  for (const Ledger::Document* d : documents) {
    ordered_json item;
    item["document"] = d->path;
    item["first_delivery"] = IsoTime(d->first);
    item["last_repeat"] = d->repeats > 0 ? ordered_json(IsoTime(d->lastRepeat)) : ordered_json(nullptr);
    item["times_sent_again"] = d->repeats;
    item["message"] = d->message.empty() ? ordered_json(nullptr) : ordered_json(d->message);
    out.push_back(std::move(item));
  }
  return out;
}

bool OutputFolder::Open(const OutputOptions& options, std::vector<std::string>* notes, bool* busy, std::string* why) {
  *busy = false;
  options_ = options;
  std::error_code ec;
  dir_ = fs::absolute(options.dir, ec).lexically_normal();
  if (dir_.has_parent_path() && dir_.filename().empty()) dir_ = dir_.parent_path();
  if (!os::CreateFolders(dir_, why) || !os::CreateFolders(dir_ / "pages", why) ||
      !os::CreateFolders(dir_ / "attrs", why)) {
    *why = dir_.string() + ": output folder cannot be created (" + *why + ")";
    return false;
  }
  if (!lock_.Acquire(dir_ / "eshost.lock", busy, why)) {
    *why = *busy ? dir_.string() + ": another eshost writes to this output folder"
                 : (dir_ / "eshost.lock").string() + ": " + *why;
    return false;
  }
  const Ledger::ReadReport report = ledger_.Read(LedgerPath());
  if (report.damaged) {
    notes->push_back(LedgerPath().string() + ": " + report.reason + "; kept the " + std::to_string(report.records) +
                     " record(s) before it (" + std::to_string(report.validBytes) + " of " +
                     std::to_string(report.fileBytes) +
                     " bytes). Of the pages recorded after that point, those whose manifest lines and files are "
                     "whole are taken from the manifest; any other page sent again is stored again");
  }
  const std::int64_t now = Now();
  if (!CheckLastPage(notes, why)) return false;
  RecoverManifestTail(notes, now);
  const std::int64_t cutoff = now - std::int64_t{options.rememberDays} * 86400;
  if (!ledger_.Compact(LedgerPath(), cutoff, why)) return false;
  if (!os::File::OpenAppend(ManifestPath(), &manifest_, why)) {
    *why = ManifestPath().string() + ": " + *why;
    return false;
  }
  nextSeq_ = ledger_.NextSeq();
  return true;
}

void OutputFolder::RecoverManifestTail(std::vector<std::string>* notes, std::int64_t now) {
  std::error_code ec;
  const fs::path manifest = ManifestPath();
  if (!fs::exists(manifest, ec)) {
    ledger_.SetManifestEnd(0);
    return;
  }
  std::uint64_t size = fs::file_size(manifest, ec);
  const std::uint64_t start = ledger_.ManifestEnd();
  if (ec || size < start) {
    notes->push_back(manifest.string() + " is shorter than the ledger recorded (" + std::to_string(size) + " < " +
                     std::to_string(start) + " bytes); pages delivered before stay known");
    ledger_.SetManifestEnd(size);
    return;
  }
  std::ifstream in(manifest, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(start));
  std::uint64_t at = start;
  std::uint64_t whole = start;  // end of the last complete line
  int taken = 0;
  std::string text;
  while (at < size && std::getline(in, text)) {
    const bool complete = !in.eof();
    at += text.size() + (complete ? 1 : 0);
    if (!complete) break;
    whole = at;
    const auto line = ordered_json::parse(text, nullptr, false);
    if (!line.is_object() || !line.contains("seq") || !line["seq"].is_number_integer()) continue;
    const std::int64_t seq = line["seq"].get<std::int64_t>();
    ledger_.NoteSeq(seq);
    Key key{};
    if (!line.contains("key") || !line["key"].is_string() || !KeyFromHex(line["key"].get<std::string>(), &key) ||
        !line.contains("accepted") || line["accepted"] != true)
      continue;
    if (line.contains("repeat_of")) {
      ledger_.RecoverRepeat(key, seq, now);
      ++taken;
    } else if (LineFileMatches(dir_, line, "image_file", "image_sha256") &&
               (!line.contains("content_file") || LineFileMatches(dir_, line, "content_file", "content_sha256"))) {
      ledger_.RecoverPage(key, seq, now);
      ++taken;
    } else {
      // Its files did not all reach the disk before the run stopped, so the page was not
      // accepted: the line goes, and the page is stored again when it is sent again.
      whole = at - text.size() - 1;
      size = at;
      notes->push_back(manifest.string() + ": dropped the line of page " + std::to_string(seq) +
                       ", whose files an interrupted run left incomplete");
      break;
    }
  }
  if (whole < size) {
    // A line cut short, or one whose files are incomplete: its page was not accepted, so
    // the module sends it again.
    os::File file;
    std::string why;
    const std::uint64_t total = fs::file_size(manifest, ec);
    if (os::File::OpenAppend(manifest, &file, &why) && file.Truncate(whole, &why) && file.Sync(&why)) {
      notes->push_back(manifest.string() + ": dropped " + std::to_string(total - whole) +
                       " byte(s) at its end left incomplete by an interrupted run");
    } else {
      notes->push_back(manifest.string() + ": an incomplete last line cannot be dropped: " + why);
    }
  }
  if (taken > 0)
    notes->push_back(manifest.string() + ": " + std::to_string(taken) +
                     " line(s) written after the ledger's last record were taken into the ledger");
  ledger_.SetManifestEnd(whole);
}

bool OutputFolder::CheckLastPage(std::vector<std::string>* notes, std::string* why) {
  const Ledger::LastPage last = ledger_.Last();
  if (!last.any) return true;
  // Its files, its manifest line and its record were flushed together: all of them must
  // be whole, or the page was never accepted.
  bool sound = false;
  std::error_code ec;
  const std::uint64_t size = fs::file_size(ManifestPath(), ec);
  if (!ec && last.manifestEnd > 0 && last.manifestEnd <= size) {
    const std::uint64_t window = std::min<std::uint64_t>(last.manifestEnd, 16u << 20);
    std::ifstream in(ManifestPath(), std::ios::binary);
    std::string tail(static_cast<std::size_t>(window), '\0');
    in.seekg(static_cast<std::streamoff>(last.manifestEnd - window));
    if (in.read(tail.data(), static_cast<std::streamsize>(window)) && tail.back() == '\n') {
      const auto from = tail.find_last_of('\n', tail.size() - 2);
      const bool whole = from != std::string::npos || window == last.manifestEnd;
      const auto line = ordered_json::parse(
          tail.substr(from == std::string::npos ? 0 : from + 1), nullptr, false);
      sound = whole && line.is_object() && line.contains("seq") && line["seq"] == last.seq;
    }
  }
  const fs::path image = dir_ / "pages" / (Stem(last.seq) + ".tif");
  const fs::path content = dir_ / "pages" / (Stem(last.seq) + ".pdf");
  if (sound && !last.repeat)
    sound = FileMatches(image, last.imageSha) && (!last.hasContent || FileMatches(content, last.contentSha));
  if (sound) return true;
  if (!ledger_.DropLast(LedgerPath(), why)) return false;
  if (!last.repeat) {
    fs::remove(image, ec);
    fs::remove(content, ec);
  }
  notes->push_back(LedgerPath().string() + ": the page being stored when eshost stopped (line " +
                   std::to_string(last.seq) + ") did not fully reach the disk; it is stored again when sent again");
  return true;
}

bool OutputFolder::Maintain(std::string* why) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (ledger_.Bytes() <= 2 * ledger_.CompactedBytes() + kRecompactSlack) return true;
  ledger_.SetManifestEnd(manifest_.Size());
  return ledger_.Compact(LedgerPath(), Now() - std::int64_t{options_.rememberDays} * 86400, why);
}

void OutputFolder::DocumentStarted(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex_);
  DocumentRun run;
  run.path = path;
  run.name = FolderName(path);
  runs_.push_back(std::move(run));
  while (runs_.size() > kRecentDocuments) runs_.pop_front();
}

OutputFolder::DocumentRun& OutputFolder::RunFor(const CAttrContainer* document) {
  // A document's first page carries its container; later pages carry none.
  if (runs_.empty() || (document != nullptr && runs_.back().hasKey)) {
    runs_.emplace_back();
    while (runs_.size() > kRecentDocuments) runs_.pop_front();
  }
  DocumentRun& run = runs_.back();
  if (document != nullptr) {
    os::Sha256 sha;
    sha.Update("document", 8);
    HashContainer(sha, document, true);
    run.key = Digest(sha);
    run.hasKey = true;
  }
  return run;
}

bool OutputFolder::AppendLine(const ordered_json& line, bool sync, std::string* why) {
  const std::string text = line.dump() + "\n";
  const std::uint64_t before = manifest_.Size();
  if (manifest_.Write(text.data(), text.size(), why) && (!sync || manifest_.Sync(why))) return true;
  CutManifest(before);
  *why = ManifestPath().string() + ": " + *why;
  return false;
}

bool OutputFolder::StoreLarge(bool text, const std::uint8_t* data, std::size_t size, ordered_json* ref,
                              bool* wroteAny, std::string* why) {
  os::Sha256 sha;
  sha.Update(data, size);
  const std::string name = KeyHex(sha.Final()) + (text ? ".txt" : ".bin");
  const fs::path final = dir_ / "attrs" / name;
  *ref = {{text ? "text_file" : "file", Relative(fs::path("attrs") / name)}, {"size", size}};
  *wroteAny = true;  // also when it exists: an earlier run may not have flushed its folder
  std::error_code ec;
  if (fs::is_regular_file(final, ec) && fs::file_size(final, ec) == size) return true;
  // Named by its content: written under a temporary name and renamed whole.
  const fs::path temporary = dir_ / "attrs" / (name + ".tmp");
  fs::remove(temporary, ec);
  os::File file;
  bool exists = false;
  if (!os::File::CreateNew(temporary, &file, &exists, why) || !file.Write(data, size, why) || !file.Sync(why)) {
    *why = temporary.string() + ": " + *why;
    file.Close();
    fs::remove(temporary, ec);
    return false;
  }
  file.Close();
  if (!os::RenameFile(temporary, final, why)) {
    *why = final.string() + ": " + *why;
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

bool OutputFolder::StoreNew(const char* call, const Key& key, const CAttrContainer* page,
                            const CAttrContainer* document, const std::uint8_t* image, std::size_t imageBytes,
                            std::uint32_t imageSize, const std::uint8_t* content, std::uint32_t contentSize,
                            StoreOutcome* outcome) {
  std::string why;
  std::vector<fs::path> created;
  os::File imageFile;
  os::File contentFile;
  auto fail = [&](const std::string& reason) {
    imageFile.Close();
    contentFile.Close();
    std::error_code ec;
    for (const auto& path : created) fs::remove(path, ec);
    outcome->error = reason;
    return false;
  };
  // Large attribute values first, each durable on its own (they are rare): the line
  // that names them can then be flushed with the page.
  bool largeValues = false;
  const LargeValueFn large = [&](std::uint32_t, bool text, const std::uint8_t* data, std::size_t size,
                                 ordered_json* ref, std::string* reason) {
    return StoreLarge(text, data, size, ref, &largeValues, reason);
  };
  ordered_json pageJson;
  ordered_json documentJson;
  if (!ContainerToJson(page, large, &pageJson, &why) || !ContainerToJson(document, large, &documentJson, &why))
    return fail(why);
  if (largeValues && !os::SyncFolder(dir_ / "attrs", &why)) return fail(why);

  // A number no file has yet: a run that was stopped may have left files beyond the
  // last line it wrote.
  std::int64_t seq = nextSeq_;
  for (int attempt = 0;; ++attempt, ++seq) {
    if (attempt > 100000) return fail("no free page file name");
    bool exists = false;
    const fs::path imagePath = dir_ / "pages" / (Stem(seq) + ".tif");
    if (!os::File::CreateNew(imagePath, &imageFile, &exists, &why)) {
      if (exists) continue;
      return fail(imagePath.string() + ": " + why);
    }
    if (content != nullptr) {
      const fs::path contentPath = dir_ / "pages" / (Stem(seq) + ".pdf");
      if (!os::File::CreateNew(contentPath, &contentFile, &exists, &why)) {
        imageFile.Close();
        std::error_code ec;
        fs::remove(imagePath, ec);
        if (exists) continue;
        return fail(contentPath.string() + ": " + why);
      }
      created.push_back(contentPath);
    }
    created.push_back(imagePath);
    break;
  }
  nextSeq_ = seq + 1;
  const std::string stem = Stem(seq);
  if (!imageFile.Write(image, imageBytes, &why)) return fail((dir_ / "pages" / (stem + ".tif")).string() + ": " + why);
  if (content != nullptr && !contentFile.Write(content, contentSize, &why))
    return fail((dir_ / "pages" / (stem + ".pdf")).string() + ": " + why);
  const Key imageSha = Sha(image, imageBytes);
  const Key contentSha = content != nullptr ? Sha(content, contentSize) : Key{};

  ordered_json line;
  line["seq"] = seq;
  line["call"] = call;
  line["accepted"] = true;
  line["key"] = KeyHex(key);
  line["page"] = std::move(pageJson);
  line["document"] = std::move(documentJson);
  line["image_size"] = imageSize;
  line["image_file"] = Relative(fs::path("pages") / (stem + ".tif"));
  line["image_sha256"] = KeyHex(imageSha);
  if (content != nullptr) {
    line["content_size"] = contentSize;
    line["content_file"] = Relative(fs::path("pages") / (stem + ".pdf"));
    line["content_sha256"] = KeyHex(contentSha);
  }
  const std::uint64_t before = manifest_.Size();
  if (!AppendLine(line, false, &why)) return fail(why);
  if (!ledger_.StagePage(key, seq, Now(), manifest_.Size(), imageSha, content != nullptr ? &contentSha : nullptr,
                         &why)) {
    CutManifest(before);
    return fail(why);
  }
  // Files, their folder entries, the line and the record in one go. A stop before all
  // are on disk leaves something incomplete that the next start finds and drops.
  std::vector<os::SyncTarget> targets{{&imageFile, {}}, {nullptr, dir_ / "pages"}, {&manifest_, {}},
                                      {&ledger_.JournalFile(), {}}};
  if (content != nullptr) targets.insert(targets.begin() + 1, os::SyncTarget{&contentFile, {}});
  if (!os::SyncTogether(targets, &why)) {
    ledger_.Abandon();
    CutManifest(before);
    return fail(why);
  }
  ledger_.Commit();
  outcome->seq = seq;
  return true;
}

void OutputFolder::CutManifest(std::uint64_t size) {
  std::string why;
  if (manifest_.Size() > size && !manifest_.Truncate(size, &why))
    broken_ = ManifestPath().string() + ": cannot be repaired after a failed write: " + why;
}

StoreOutcome OutputFolder::Store(const char* call, const CAttrContainer* page, const CAttrContainer* document,
                                 std::uint64_t image, std::uint32_t imageSize, const std::uint8_t* content,
                                 std::uint32_t contentSize) {
  std::lock_guard<std::mutex> hold(mutex_);
  StoreOutcome outcome;
  DocumentRun& run = RunFor(document);
  outcome.document = run.path;
  outcome.pageInDocument = ++run.pages;

  struct PageFile {
    PictornFileBytes bytes{};
    ~PageFile() { PictornFreeFileBytes(&bytes); }
  } file;
  if (image == 0 || !PictornPageFile(image, &file.bytes)) {
    outcome.error = std::string("the page image cannot be had as a file: ") +
                    (image == 0 ? "no image was handed over" : PictornLastError());
    return outcome;
  }
  const std::uint8_t* bytes = file.bytes.data;
  const std::size_t byteCount = static_cast<std::size_t>(file.bytes.size);
  if (!broken_.empty()) {
    outcome.error = broken_;
    return outcome;
  }

  os::Sha256 pageSha;
  pageSha.Update("page", 4);
  HashContainer(pageSha, page, true);
  PutU64(pageSha, byteCount);
  pageSha.Update(bytes, byteCount);
  PutU64(pageSha, content != nullptr ? contentSize : ~std::uint64_t{0});
  if (content != nullptr) pageSha.Update(content, contentSize);
  const Key pageDigest = Digest(pageSha);
  os::Sha256 keySha;
  keySha.Update("key", 3);
  keySha.Update(run.key.data(), run.key.size());
  keySha.Update(pageDigest.data(), pageDigest.size());
  PutU64(keySha, run.occurrences[pageDigest]++);
  const Key key = Digest(keySha);

  const Ledger::Page* known = ledger_.FindPage(key);
  if (known == nullptr) {
    if (StoreNew(call, key, page, document, bytes, byteCount, imageSize, content, contentSize, &outcome))
      outcome.accepted = true;
    return outcome;
  }
  // A page eshost holds already: one line that refers to it, nothing stored again.
  std::string why;
  const std::int64_t repeatOf = known->seq;
  run.first = run.first == 0 ? known->first : std::min(run.first, known->first);
  if (!run.resentNoted && run.hasKey) {
    if (!ledger_.AppendResent(run.key, run.path, run.first, Now(), &why)) {
      outcome.error = why;
      return outcome;
    }
    run.resentNoted = true;
  }
  const std::int64_t seq = nextSeq_;
  ordered_json line;
  line["seq"] = seq;
  line["call"] = call;
  line["accepted"] = true;
  line["key"] = KeyHex(key);
  line["repeat_of"] = repeatOf;
  const std::uint64_t before = manifest_.Size();
  if (!AppendLine(line, false, &why)) {
    outcome.error = why;
    return outcome;
  }
  if (!ledger_.StageRepeat(key, seq, Now(), manifest_.Size(), &why)) {
    CutManifest(before);
    outcome.error = why;
    return outcome;
  }
  if (!os::SyncTogether({{&manifest_, {}}, {&ledger_.JournalFile(), {}}}, &why)) {
    ledger_.Abandon();
    CutManifest(before);
    outcome.error = why;
    return outcome;
  }
  ledger_.Commit();
  nextSeq_ = seq + 1;
  ++run.repeats;
  outcome.seq = seq;
  outcome.repeatOf = repeatOf;
  outcome.accepted = true;
  return outcome;
}

void OutputFolder::RecordRefused(const char* call, const CAttrContainer* page, const CAttrContainer* document,
                                 std::uint32_t imageSize) {
  std::lock_guard<std::mutex> hold(mutex_);
  DocumentRun& run = RunFor(document);
  ++run.pages;
  if (!broken_.empty()) return;
  // Large values are only counted here: the page is not kept.
  const LargeValueFn omit = [](std::uint32_t, bool, const std::uint8_t*, std::size_t size, ordered_json* ref,
                               std::string*) {
    *ref = {{"omitted_bytes", size}};
    return true;
  };
  std::string why;
  ordered_json line;
  line["seq"] = nextSeq_;
  line["call"] = call;
  line["accepted"] = false;
  ordered_json attributes;
  ContainerToJson(page, omit, &attributes, &why);
  line["page"] = std::move(attributes);
  ContainerToJson(document, omit, &attributes, &why);
  line["document"] = std::move(attributes);
  line["image_size"] = imageSize;
  if (AppendLine(line, false, &why)) ++nextSeq_;
}

bool OutputFolder::ShouldShow(const std::string& message) {
  std::lock_guard<std::mutex> hold(mutex_);
  // The message names its document folder: " NAME " after "from document".
  const DocumentRun* run = nullptr;
  for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
    if (!it->name.empty() && message.find(" " + it->name + " ") != std::string::npos) {
      run = &*it;
      break;
    }
  }
  if (run == nullptr) return true;
  Key key = run->key;
  if (!run->hasKey) {
    // No page of it arrived: known by its folder instead.
    os::Sha256 sha;
    sha.Update("folder", 6);
    sha.Update(run->path.data(), run->path.size());
    key = Digest(sha);
  }
  const Ledger::Document* known = ledger_.FindDocument(key);
  const bool allRepeats = run->repeats == run->pages;
  if (known != nullptr && allRepeats && known->message == message) return false;
  const std::int64_t now = Now();
  std::string why;
  ledger_.AppendMessage(key, run->path, run->first != 0 ? run->first : now, now, message, &why);
  return true;
}

}  // namespace eshost
