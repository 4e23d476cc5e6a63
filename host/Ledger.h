// The delivery ledger: which pages eshost already holds, by content, so that a page the
// module sends again (a kept document, or pages re-sent after the host was killed) is
// recognised and not stored twice; and which documents keep coming back.
//
// On disk it is an append-only journal in the output folder. Each record carries its
// length and a checksum, so a journal cut at any byte or with a flipped bit is read up
// to its last sound record and no further: what came after is unknown, and an unknown
// page is always stored again, never taken as delivered. Each start rewrites the journal
// compactly (write, flush, rename), dropping what was not seen for a while.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/HostOs.h"

namespace eshost {

using Key = std::array<std::uint8_t, 32>;
struct KeyHash {
  std::size_t operator()(const Key& key) const;
};
std::string KeyHex(const Key& key);
bool KeyFromHex(const std::string& text, Key* key);

class Ledger {
 public:
  struct Page {
    std::int64_t seq = 0;    // the manifest line that holds the page's image
    std::int64_t first = 0;  // seconds since 1970
    std::int64_t last = 0;   // last time it was delivered or repeated
    std::int64_t repeats = 0;
  };
  // A document the host was told about more than once, or that came with a
  // damaged-pages message (it stays in the storage and will be sent again).
  struct Document {
    std::string path;  // the document folder, as the import named it
    std::int64_t first = 0;
    std::int64_t lastRepeat = 0;
    std::int64_t repeats = 0;
    std::int64_t messageTime = 0;
    std::string message;  // the damaged-pages message that came with it
  };
  struct ReadReport {
    bool found = false;
    bool damaged = false;
    std::uint64_t validBytes = 0;
    std::uint64_t fileBytes = 0;
    std::size_t records = 0;
    std::string reason;  // what was wrong where the valid prefix ends
  };

  // Reads a journal into an empty ledger, up to its last sound record.
  ReadReport Read(const std::filesystem::path& file);
  // Rewrites the journal from what is known, dropping pages and documents last seen
  // before `cutoff`, and keeps it open for appending.
  bool Compact(const std::filesystem::path& file, std::int64_t cutoff, std::string* why);
  // A page stored or sent again: the record is written, not yet flushed, so that the
  // caller can flush it together with the page's files. Then Commit() once flushed, or
  // Abandon() to cut it off again.
  bool StagePage(const Key& key, std::int64_t seq, std::int64_t time, std::uint64_t manifestEnd,
                 const Key& imageSha, const Key* contentSha, std::string* why);
  bool StageRepeat(const Key& key, std::int64_t seq, std::int64_t time, std::uint64_t manifestEnd, std::string* why);
  void Commit();
  void Abandon();
  os::File& JournalFile() { return file_; }
  // Records flushed when these return true.
  bool AppendResent(const Key& document, const std::string& path, std::int64_t first, std::int64_t time,
                    std::string* why);
  bool AppendMessage(const Key& document, const std::string& path, std::int64_t first, std::int64_t time,
                     const std::string& text, std::string* why);

  // The last record read, when it tells of a page: the page stored or repeated when a run
  // stopped may have been flushed only in part, so it is checked before it is trusted.
  struct LastPage {
    bool any = false;
    bool repeat = false;
    Key key{};
    std::int64_t seq = 0;
    std::uint64_t manifestEnd = 0;
    Key imageSha{};
    bool hasContent = false;
    Key contentSha{};
    std::uint64_t offset = 0;  // where the record starts in the journal
  };
  const LastPage& Last() const { return last_; }
  // Cuts the journal before its last record (flushed) and reads it again.
  bool DropLast(const std::filesystem::path& file, std::string* why);

  // Known from the manifest (a line written before its record was).
  void RecoverPage(const Key& key, std::int64_t seq, std::int64_t time);
  void RecoverRepeat(const Key& key, std::int64_t seq, std::int64_t time);
  void SetManifestEnd(std::uint64_t end) { manifestEnd_ = end; }
  // A manifest line number in use: later lines take higher numbers.
  void NoteSeq(std::int64_t seq);

  const Page* FindPage(const Key& key) const;
  const Document* FindDocument(const Key& key) const;
  const std::unordered_map<Key, Document, KeyHash>& Documents() const { return documents_; }
  std::size_t PageCount() const { return pages_.size(); }
  std::int64_t NextSeq() const { return nextSeq_; }
  std::uint64_t ManifestEnd() const { return manifestEnd_; }
  // Journal bytes now and right after the last compaction.
  std::uint64_t Bytes() const { return file_.Size(); }
  std::uint64_t CompactedBytes() const { return compactedBytes_; }

 private:
  bool Apply(const std::vector<std::uint8_t>& body);
  bool Stage(const std::vector<std::uint8_t>& body, std::string* why);
  bool Append(const std::vector<std::uint8_t>& body, std::string* why);

  std::unordered_map<Key, Page, KeyHash> pages_;
  std::unordered_map<Key, Document, KeyHash> documents_;
  std::int64_t nextSeq_ = 1;
  std::uint64_t manifestEnd_ = 0;
  os::File file_;
  std::uint64_t compactedBytes_ = 0;
  LastPage last_;
  std::vector<std::uint8_t> staged_;
  std::uint64_t stagedAt_ = 0;
};

}  // namespace eshost
