#include "host/Ledger.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace eshost {

namespace fs = std::filesystem;

namespace {

// The journal starts with this line; then records: u32 body length, body, and the first
// 8 bytes of SHA-256 over length and body. All numbers little-endian.
constexpr char kMagic[16] = {'E', 'S', 'H', 'O', 'S', 'T', ' ', 'L', 'E', 'D', 'G', 'E', 'R', ' ', '1', '\n'};
constexpr std::uint32_t kMaxBody = 1u << 20;
constexpr std::size_t kMaxText = 64 * 1024;
constexpr std::size_t kChunk = 1u << 20;

// Record types, the first byte of a body.
enum : std::uint8_t {
  kState = 'S',     // next manifest sequence number, manifest end
  kPage = 'P',      // a page stored: key, seq, time, manifest end, image SHA-256, content flag and SHA-256
  kRepeat = 'R',    // a page sent again: key, seq of the repeat line, time, manifest end
  kResent = 'D',    // a document sent again: document key, path, first delivery, time
  kMessage = 'M',   // a damaged-pages message shown: document key, path, first delivery, time, text
  kPageAll = 'p',   // compacted page: key, seq, first, last, repeats
  kDocumentAll = 'd',  // compacted document: key, path, first, last repeat, repeats, message time, message
};

class Out {
 public:
  std::vector<std::uint8_t> bytes;
  void U8(std::uint8_t v) { bytes.push_back(v); }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void I64(std::int64_t v) { U64(static_cast<std::uint64_t>(v)); }
  void Bytes(const Key& k) { bytes.insert(bytes.end(), k.begin(), k.end()); }
  void Text(const std::string& s) {
    const std::size_t n = std::min(s.size(), kMaxText);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
  }
};

class In {
 public:
  explicit In(const std::vector<std::uint8_t>& b) : b_(b) {}
  bool ok = true;
  std::uint8_t U8() { return Need(1) ? b_[at_++] : 0; }
  std::uint64_t U64() {
    if (!Need(8)) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{b_[at_ + i]} << (8 * i);
    at_ += 8;
    return v;
  }
  std::int64_t I64() { return static_cast<std::int64_t>(U64()); }
  Key Bytes() {
    Key k{};
    if (Need(k.size())) {
      std::memcpy(k.data(), b_.data() + at_, k.size());
      at_ += k.size();
    }
    return k;
  }
  std::string Text() {
    if (!Need(4)) return {};
    std::size_t n = 0;
    for (int i = 0; i < 4; ++i) n |= std::size_t{b_[at_ + i]} << (8 * i);
    at_ += 4;
    if (n > kMaxText || !Need(n)) {
      ok = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(b_.data() + at_), n);
    at_ += n;
    return s;
  }
  bool AtEnd() const { return ok && at_ == b_.size(); }

 private:
  bool Need(std::size_t n) {
    if (ok && b_.size() - at_ >= n) return true;
    ok = false;
    return false;
  }
  const std::vector<std::uint8_t>& b_;
  std::size_t at_ = 0;
};

std::uint64_t Checksum(const std::uint8_t* data, std::size_t size) {
  os::Sha256 sha;
  sha.Update(data, size);
  const auto digest = sha.Final();
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= std::uint64_t{digest[static_cast<std::size_t>(i)]} << (8 * i);
  return v;
}

// Frames a body: length, body, checksum.
void Frame(const std::vector<std::uint8_t>& body, std::vector<std::uint8_t>* out) {
  const std::size_t start = out->size();
  const auto n = static_cast<std::uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out->insert(out->end(), body.begin(), body.end());
  const std::uint64_t sum = Checksum(out->data() + start, out->size() - start);
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
}

std::int64_t LastActivity(const Ledger::Document& d) { return std::max({d.first, d.lastRepeat, d.messageTime}); }

}  // namespace

std::size_t KeyHash::operator()(const Key& key) const {
  std::size_t h = 0;
  std::memcpy(&h, key.data(), sizeof h);
  return h;
}

std::string KeyHex(const Key& key) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(64);
  for (std::uint8_t b : key) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

bool KeyFromHex(const std::string& text, Key* key) {
  if (text.size() != 64) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < 32; ++i) {
    const int hi = digit(text[2 * i]);
    const int lo = digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*key)[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return true;
}

void Ledger::NoteSeq(std::int64_t seq) {
  if (seq >= nextSeq_) nextSeq_ = seq + 1;
}

bool Ledger::Apply(const std::vector<std::uint8_t>& body) {
  In in(body);
  const std::uint8_t type = in.U8();
  switch (type) {
    case kState: {
      const std::int64_t next = in.I64();
      const std::uint64_t end = in.U64();
      if (!in.AtEnd()) return false;
      nextSeq_ = std::max(nextSeq_, next);
      manifestEnd_ = end;
      return true;
    }
    case kPage:
    case kRepeat: {
      LastPage l;
      l.any = true;
      l.repeat = type == kRepeat;
      l.key = in.Bytes();
      l.seq = in.I64();
      const std::int64_t time = in.I64();
      l.manifestEnd = in.U64();
      if (type == kPage) {
        l.imageSha = in.Bytes();
        l.hasContent = in.U8() != 0;
        l.contentSha = in.Bytes();
      }
      if (!in.AtEnd()) return false;
      if (type == kPage) {
        RecoverPage(l.key, l.seq, time);
      } else {
        RecoverRepeat(l.key, l.seq, time);
      }
      manifestEnd_ = l.manifestEnd;
      last_ = l;
      return true;
    }
    case kPageAll: {
      const Key key = in.Bytes();
      Page p;
      p.seq = in.I64();
      p.first = in.I64();
      p.last = in.I64();
      p.repeats = in.I64();
      if (!in.AtEnd()) return false;
      pages_[key] = p;
      NoteSeq(p.seq);
      return true;
    }
    case kResent:
    case kMessage: {
      const Key key = in.Bytes();
      const std::string path = in.Text();
      const std::int64_t first = in.I64();
      const std::int64_t time = in.I64();
      const std::string text = type == kMessage ? in.Text() : std::string();
      if (!in.AtEnd()) return false;
      Document& d = documents_[key];
      d.path = path;
      d.first = d.first == 0 ? first : std::min(d.first, first);
      if (type == kResent) {
        d.lastRepeat = time;
        ++d.repeats;
      } else {
        d.messageTime = time;
        d.message = text;
      }
      return true;
    }
    case kDocumentAll: {
      const Key key = in.Bytes();
      Document d;
      d.path = in.Text();
      d.first = in.I64();
      d.lastRepeat = in.I64();
      d.repeats = in.I64();
      d.messageTime = in.I64();
      d.message = in.Text();
      if (!in.AtEnd()) return false;
      documents_[key] = d;
      return true;
    }
    default:
      return false;
  }
}

Ledger::ReadReport Ledger::Read(const fs::path& file) {
  ReadReport report;
  std::error_code ec;
  if (!fs::exists(file, ec)) return report;
  report.found = true;
  std::ifstream in(file, std::ios::binary);
  const auto size = fs::file_size(file, ec);
  if (!in || ec) {
    report.damaged = true;
    report.reason = "cannot be read";
    return report;
  }
  report.fileBytes = size;
  if (size == 0) return report;  // created, then the host stopped before it wrote anything
  char magic[sizeof kMagic] = {};
  if (size < sizeof kMagic || !in.read(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
    report.damaged = true;
    report.reason = "its header is not that of a ledger";
    return report;
  }
  std::uint64_t at = sizeof kMagic;
  std::vector<std::uint8_t> frame;
  std::vector<std::uint8_t> body;
  while (at < size) {
    const std::uint64_t left = size - at;
    std::uint8_t head[4];
    if (left < 4 || !in.read(reinterpret_cast<char*>(head), 4)) {
      report.damaged = true;
      report.reason = "the record at byte " + std::to_string(at) + " is cut short";
      break;
    }
    const std::uint32_t n = head[0] | (head[1] << 8) | (head[2] << 16) | (std::uint32_t{head[3]} << 24);
    if (n == 0 || n > kMaxBody || std::uint64_t{n} + 12 > left) {
      report.damaged = true;
      report.reason = "the record at byte " + std::to_string(at) + " is cut short or has a damaged length";
      break;
    }
    frame.assign(head, head + 4);
    frame.resize(4 + std::size_t{n} + 8);
    if (!in.read(reinterpret_cast<char*>(frame.data() + 4), static_cast<std::streamsize>(n) + 8)) {
      report.damaged = true;
      report.reason = "the record at byte " + std::to_string(at) + " cannot be read";
      break;
    }
    std::uint64_t sum = 0;
    for (int i = 0; i < 8; ++i) sum |= std::uint64_t{frame[4 + n + static_cast<std::size_t>(i)]} << (8 * i);
    if (sum != Checksum(frame.data(), 4 + std::size_t{n})) {
      report.damaged = true;
      report.reason = "the record at byte " + std::to_string(at) + " fails its checksum";
      break;
    }
    body.assign(frame.begin() + 4, frame.begin() + 4 + n);
    const LastPage before = last_;
    last_ = LastPage{};
    if (!Apply(body)) {
      last_ = before;
      report.damaged = true;
      report.reason = "the record at byte " + std::to_string(at) + " is not understood";
      break;
    }
    if (last_.any) last_.offset = at;
    ++report.records;
    at += 4 + std::uint64_t{n} + 8;
  }
  report.validBytes = at;
  return report;
}

bool Ledger::Compact(const fs::path& file, std::int64_t cutoff, std::string* why) {
  file_.Close();
  for (auto it = pages_.begin(); it != pages_.end();) it = it->second.last < cutoff ? pages_.erase(it) : std::next(it);
  for (auto it = documents_.begin(); it != documents_.end();)
    it = LastActivity(it->second) < cutoff ? documents_.erase(it) : std::next(it);

  fs::path temporary = file;
  temporary += ".new";
  std::error_code ec;
  fs::remove(temporary, ec);  // left by a compaction that did not finish
  os::File out;
  bool exists = false;
  if (!os::File::CreateNew(temporary, &out, &exists, why)) {
    *why = temporary.string() + ": " + *why;
    return false;
  }
  std::vector<std::uint8_t> buffer(kMagic, kMagic + sizeof kMagic);
  auto flush = [&](bool last) {
    if (buffer.empty() || (!last && buffer.size() < kChunk)) return true;
    const bool ok = out.Write(buffer.data(), buffer.size(), why);
    buffer.clear();
    return ok;
  };
  Out state;
  state.U8(kState);
  state.I64(nextSeq_);
  state.U64(manifestEnd_);
  Frame(state.bytes, &buffer);
  bool ok = true;
  for (const auto& [key, p] : pages_) {
    Out r;
    r.U8(kPageAll);
    r.Bytes(key);
    r.I64(p.seq);
    r.I64(p.first);
    r.I64(p.last);
    r.I64(p.repeats);
    Frame(r.bytes, &buffer);
    if (!(ok = flush(false))) break;
  }
  for (const auto& [key, d] : documents_) {
    if (!ok) break;
    Out r;
    r.U8(kDocumentAll);
    r.Bytes(key);
    r.Text(d.path);
    r.I64(d.first);
    r.I64(d.lastRepeat);
    r.I64(d.repeats);
    r.I64(d.messageTime);
    r.Text(d.message);
    Frame(r.bytes, &buffer);
    ok = flush(false);
  }
  ok = ok && flush(true) && out.Sync(why);
  out.Close();
  if (!ok || !os::RenameFile(temporary, file, why) || !os::SyncFolder(file.parent_path(), why) ||
      !os::File::OpenAppend(file, &file_, why)) {
    // The journal as it was stays in use (a reader on Windows can keep it from being
    // replaced); it is rewritten at the next chance.
    *why = file.string() + ": cannot be rewritten: " + *why;
    fs::remove(temporary, ec);
    std::string ignored;
    if (!file_.IsOpen()) os::File::OpenAppend(file, &file_, &ignored);
    return false;
  }
  compactedBytes_ = file_.Size();
  last_ = LastPage{};
  return true;
}

bool Ledger::Stage(const std::vector<std::uint8_t>& body, std::string* why) {
  if (!file_.IsOpen()) {
    *why = "ledger: cannot be written any more";
    return false;
  }
  std::vector<std::uint8_t> frame;
  Frame(body, &frame);
  stagedAt_ = file_.Size();
  if (!file_.Write(frame.data(), frame.size(), why, os::CallKind::kAppend)) {
    *why = "ledger: " + *why;
    Abandon();
    return false;
  }
  staged_ = body;
  return true;
}

void Ledger::Commit() {
  if (!staged_.empty()) Apply(staged_);
  staged_.clear();
}

void Ledger::Abandon() {
  staged_.clear();
  // Leave no half record behind: records after it would be unreadable.
  std::string ignored;
  if (file_.IsOpen() && file_.Size() > stagedAt_ && !file_.Truncate(stagedAt_, &ignored)) file_.Close();
}

bool Ledger::Append(const std::vector<std::uint8_t>& body, std::string* why) {
  if (!Stage(body, why)) return false;
  if (!file_.Sync(why)) {
    *why = "ledger: " + *why;
    Abandon();
    return false;
  }
  Commit();
  return true;
}

bool Ledger::StagePage(const Key& key, std::int64_t seq, std::int64_t time, std::uint64_t manifestEnd,
                       const Key& imageSha, const Key* contentSha, std::string* why) {
  Out r;
  r.U8(kPage);
  r.Bytes(key);
  r.I64(seq);
  r.I64(time);
  r.U64(manifestEnd);
  r.Bytes(imageSha);
  r.U8(contentSha != nullptr ? 1 : 0);
  r.Bytes(contentSha != nullptr ? *contentSha : Key{});
  return Stage(r.bytes, why);
}

bool Ledger::StageRepeat(const Key& key, std::int64_t seq, std::int64_t time, std::uint64_t manifestEnd,
                         std::string* why) {
  Out r;
  r.U8(kRepeat);
  r.Bytes(key);
  r.I64(seq);
  r.I64(time);
  r.U64(manifestEnd);
  return Stage(r.bytes, why);
}

bool Ledger::DropLast(const fs::path& file, std::string* why) {
  file_.Close();
  os::File journal;
  if (!os::File::OpenAppend(file, &journal, why) || !journal.Truncate(last_.offset, why) || !journal.Sync(why)) {
    *why = file.string() + ": " + *why;
    return false;
  }
  journal.Close();
  pages_.clear();
  documents_.clear();
  nextSeq_ = 1;
  manifestEnd_ = 0;
  last_ = LastPage{};
  Read(file);
  return true;
}

bool Ledger::AppendResent(const Key& document, const std::string& path, std::int64_t first, std::int64_t time,
                          std::string* why) {
  Out r;
  r.U8(kResent);
  r.Bytes(document);
  r.Text(path);
  r.I64(first);
  r.I64(time);
  return Append(r.bytes, why);
}

bool Ledger::AppendMessage(const Key& document, const std::string& path, std::int64_t first, std::int64_t time,
                           const std::string& text, std::string* why) {
  Out r;
  r.U8(kMessage);
  r.Bytes(document);
  r.Text(path);
  r.I64(first);
  r.I64(time);
  r.Text(text);
  return Append(r.bytes, why);
}

void Ledger::RecoverPage(const Key& key, std::int64_t seq, std::int64_t time) {
  pages_.try_emplace(key, Page{seq, time, time, 0});
  NoteSeq(seq);
}

void Ledger::RecoverRepeat(const Key& key, std::int64_t seq, std::int64_t time) {
  auto it = pages_.find(key);
  if (it != pages_.end()) {
    it->second.last = std::max(it->second.last, time);
    ++it->second.repeats;
  }
  NoteSeq(seq);
}

const Ledger::Page* Ledger::FindPage(const Key& key) const {
  auto it = pages_.find(key);
  return it == pages_.end() ? nullptr : &it->second;
}

const Ledger::Document* Ledger::FindDocument(const Key& key) const {
  auto it = documents_.find(key);
  return it == documents_.end() ? nullptr : &it->second;
}

}  // namespace eshost
