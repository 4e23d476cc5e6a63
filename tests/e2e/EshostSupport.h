// eshost run as a user runs it, on storages written by the producer kit, and what its
// output folder says about the pages delivered.
#pragma once

#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/HostOs.h"
#include "host/Ledger.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/Process.h"

namespace estest {

// A settings file in `folder` registering `directories`, with deletion on or off.
inline fs::path WriteSettings(const fs::path& folder, const std::vector<fs::path>& directories, bool deletion = true) {
  nlohmann::json j = {{"AllowRescanning", true}, {"SelectedPath", ""}, {"DeleteFaxes", deletion},
                      {"DeleteGroupFolder", deletion}, {"Number of dirs", directories.size()}};
  for (std::size_t i = 0; i < directories.size(); ++i) j["Dir" + std::to_string(i)] = directories[i].string();
  std::ofstream(folder / "settings.json") << j.dump(2);
  return folder / "settings.json";
}

// A storage written from `plan` and registered in a settings file in a work folder, which
// also holds eshost's output folder. Its groups were written long ago: one a stopped host
// left without documents is not one a producer is still filling, and a scan cleans it up.
struct Registered {
  explicit Registered(const esproduce::StoragePlan& plan, bool deletion = true) {
    storage.Write(plan);
    for (const auto& group : plan.groups) AgeLock(storage / group.folderName);
    settings = WriteSettings(work.root, {storage.root}, deletion);
  }
  TempStorage storage, work;
  fs::path settings, out = work.root / "out";
};

inline std::vector<nlohmann::json> Manifest(const fs::path& out) {
  std::vector<nlohmann::json> lines;
  std::ifstream in(out / "manifest.jsonl");
  std::string line;
  while (std::getline(in, line)) {
    // A line still being written reads as incomplete; it is counted once it is whole.
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (!parsed.is_discarded()) lines.push_back(parsed);
  }
  return lines;
}

inline std::string PageId(const nlohmann::json& line) {
  if (!line.contains("page") || !line["page"].is_object() || !line["page"].contains("0x0107000f")) return "";
  return line["page"]["0x0107000f"].get<std::string>();
}

// eshost's arguments for an unattended scan into `out`, then `extra`.
inline std::vector<std::string> ScanArgs(const fs::path& settings, const fs::path& out, std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"--settings", settings.string(), "scan", "--unattended", "--out", out.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

inline ProcessResult Scan(const fs::path& settings, const fs::path& out, std::vector<std::string> extra = {}) {
  return Run(Program("eshost"), ScanArgs(settings, out, std::move(extra)));
}

// Waits until `done` holds, at most a minute.
template <typename Done>
void WaitFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

inline nlohmann::json ReadJson(const fs::path& file) { return nlohmann::json::parse(ReadFile(file)); }

// The hex SHA-256 digest of a file's bytes.
inline std::string Digest(const fs::path& file) {
  const std::string bytes = ReadFile(file);
  eshost::os::Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return eshost::KeyHex(sha.Final());
}

// True when the file is one image the image library decodes.
inline bool Decodes(const fs::path& file) {
  const std::string bytes = ReadFile(file);
  std::uint64_t image = 0;
  std::uint32_t size = 0;
  CAttrContainer* page = nullptr;
  if (PictornImageFromMemory(&image, 0, &size, page, 1, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             static_cast<std::uint32_t>(bytes.size())) != 0)
    return false;
  PictornPixels pixels{};
  const bool decoded = PictornDecode(image, &pixels);
  PictornFreePixels(&pixels);
  PictornReleaseImage(image);
  delete page;
  return decoded;
}

// What the manifest of an output folder says: how often each page (by its id) was
// stored with an image and how often it came again as a repeat; and every fault found
// in the lines and the files they name.
struct Delivery {
  std::map<std::string, int> stored, repeated;
  std::vector<std::string> faults;
};

inline Delivery CheckDelivery(const fs::path& out) {
  static std::set<std::string> decoded;  // image digests already decoded
  Delivery d;
  std::map<std::int64_t, std::string> idOfLine;
  std::set<std::int64_t> seqs;
  for (const auto& line : Manifest(out)) {
    const std::int64_t seq = line["seq"].get<std::int64_t>();
    const std::string id = PageId(line);
    const auto fault = [&](const std::string& what) { d.faults.push_back("line " + std::to_string(seq) + " (" + id + "): " + what); };
    // A file the line names holds the bytes of its digest.
    const auto holds = [&](const char* file, const char* sha) {
      const std::string name = line[file].get<std::string>();
      const bool holds = Digest(out / name) == line.value(sha, "");
      if (!holds) fault(name + " does not hold its bytes");
      return holds;
    };
    if (!seqs.insert(seq).second) fault("appears twice");
    if (!line["accepted"].get<bool>()) continue;
    if (line.contains("repeat_of")) {
      const auto it = idOfLine.find(line["repeat_of"].get<std::int64_t>());
      if (it == idOfLine.end()) fault("repeats a line that holds no image");
      if (it != idOfLine.end()) ++d.repeated[it->second];
      continue;
    }
    ++d.stored[id];
    idOfLine[seq] = id;
    if (!line.contains("image_file")) {
      fault("has no image");
      continue;
    }
    const std::string sha = line.value("image_sha256", "");
    if (holds("image_file", "image_sha256") && decoded.count(sha) == 0) {
      if (Decodes(out / line["image_file"].get<std::string>()))
        decoded.insert(sha);
      else
        fault("its image does not decode");
    }
    if (line.contains("content_file")) holds("content_file", "content_sha256");
    // Large values live in side files named by their digest.
    for (const char* part : {"page", "document"}) {
      if (!line[part].is_object()) continue;
      for (const auto& [attr, value] : line[part].items())
        if (value.is_object() && value.contains("file") && "attrs/" + Digest(out / value["file"].get<std::string>()) + ".bin" != value["file"])
          fault("side file " + value["file"].get<std::string>() + " does not hold its bytes");
    }
  }
  return d;
}

}  // namespace estest
