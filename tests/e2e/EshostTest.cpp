// eshost as a user runs it: a separate process on storages written by the producer kit.
#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/e2e/EshostSupport.h"

namespace {

using namespace estest;
using nlohmann::json;

// A refused page stops its storage; the host's cancel keeps the pending document and all
// later ones.
TEST(EshostScan, StoragesInRegistrationOrderARefusalStopsOneACancelKeepsThePendingDocument) {
  TempStorage s1, s2, s3, work;
  s1.Write({std::nullopt, std::vector<std::string>{"a", "b"}, {Group("a", Docs("A", 1, 1)), Group("b", Docs("B", 1, 1))}});
  s2.Write({std::nullopt, std::nullopt, {Group("c", Docs("C", 1, 1))}});
  s3.Write({std::nullopt, std::nullopt, {Group("d", Docs("D", 4, 2))}});
  const fs::path settings = WriteSettings(work.root, {s1.root, s2.root, s3.root});
  const auto r = Scan(settings, work.root / "out", {"--refuse-at", "1", "--cancel-at", "7"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  std::string ids;
  for (const auto& line : Manifest(work.root / "out")) ids += PageId(line) + (line["accepted"].get<bool>() ? " " : "(refused) ");
  EXPECT_EQ("A1/p1(refused) C1/p1 D1/p1 D1/p2 D2/p1 D2/p2 D3/p1 ", ids) << r.out;
  EXPECT_TRUE(s1.Exists("a/A1")) << "refused: stays";
  EXPECT_TRUE(s1.Exists("b/B1")) << "the first storage stopped before its second group";
  EXPECT_FALSE(s2.Exists("c"));
  EXPECT_FALSE(s3.Exists("d/D1"));
  for (const char* kept : {"d/D2", "d/D3", "d/D4"}) EXPECT_TRUE(s3.Exists(kept)) << kept << ": pending or later";
}

TEST(EshostScan, NoRegisteredStorageImportsNothingAndSaysSo) {
  TempStorage work;
  const auto r = Scan(WriteSettings(work.root, {}), work.root / "out");
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("no External Storage is registered")) << r.err;
  EXPECT_TRUE(Manifest(work.root / "out").empty());
}

TEST(EshostScan, ManifestCarriesPageAndDocumentAttributesAndImages) {
  Registered s({std::nullopt, std::nullopt, {Group("g", Docs("D", 1, 2))}}, false);
  const auto r = Scan(s.settings, s.out, {"--receipt", (s.work.root / "receipt.json").string()});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const auto lines = Manifest(s.out);
  ASSERT_EQ(2u, lines.size());
  // Sequence number, call, page number, the document's text (with the first page only) and
  // the resolution read from the image.
  const auto& first = lines[0];
  EXPECT_EQ("1 AddPage 1 \"doc\" 100 null", first["seq"].dump() + " " + first["call"].get<std::string>() + " " +
                                                  first["page"]["0x01000015"].dump() + " " + first["document"]["0x02070068"].dump() +
                                                  " " + first["page"]["0x01020001"].dump() + " " + lines[1]["document"].dump());
  EXPECT_GT(first["image_size"].get<int>(), 0);
  EXPECT_TRUE(first["image_file"].is_string() && fs::exists(s.out / first["image_file"].get<std::string>()));
  const json receipt = ReadJson(s.work.root / "receipt.json");
  // Two pages handed over; D1 imported, and kept: images are not deleted.
  const json& group = receipt["storages"][0]["groups"][0];
  EXPECT_EQ("2 [\"D1\"] 1", receipt["pages_handed_over"].dump() + " " + group["imported"].dump() + " " + std::to_string(group["kept"].size()));
}

// As a service: the kept document comes again at every scan; its page is stored once
// and its damaged-pages message shown once.
TEST(EshostService, UnavailableEmptyAndAllDamagedStoragesEndWithASummaryAndKeptPagesAreStoredOnce) {
  TempStorage empty, damaged, work;
  auto doc = NamedDocument("X1", 2);
  doc.files.pop_back();
  damaged.Write({std::nullopt, std::nullopt, {Group("g", {doc})}});
  const fs::path settings = WriteSettings(work.root, {work.root / "missing", empty.root, damaged.root});
  const fs::path out = work.root / "out";
  const auto r = Scan(settings, out, {"--every", "0.05", "--runs", "3", "--receipt", (work.root / "receipt.json").string(),
                                      "--messages", (work.root / "messages.jsonl").string(), "--trace",
                                      (work.root / "trace.txt").string()});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Scanned 3 storage(s)")) << r.out;
  const json receipt = ReadJson(work.root / "receipt.json");
  // The missing storage unavailable; one document kept, none deleted, and why.
  EXPECT_EQ("false 1 0 \"damaged pages\"", receipt["storages"][0]["available"].dump() + " " + receipt["documents_kept"].dump() + " " +
                                              receipt["documents_deleted"].dump() + " " + receipt["storages"][2]["groups"][0]["kept"][0]["reason"].dump());
  EXPECT_TRUE(damaged.Exists("g/X1/1.pg"));

  const Delivery d = CheckDelivery(out);
  EXPECT_TRUE(d.faults.empty());
  EXPECT_EQ((std::map<std::string, int>{{"X1/p1", 1}}), d.stored);
  EXPECT_EQ((std::map<std::string, int>{{"X1/p1", 2}}), d.repeated);
  // Shown once; traced when it came again with nothing new.
  std::size_t shown = 0;
  for (std::size_t at = 0; (at = r.err.find("eshost: message:", at)) != std::string::npos; ++at) ++shown;
  EXPECT_EQ(1u, shown) << r.err;
  std::vector<bool> messageShown;
  std::ifstream messages(work.root / "messages.jsonl");
  for (std::string line; std::getline(messages, line);) messageShown.push_back(json::parse(line).value("shown", true));
  EXPECT_EQ((std::vector<bool>{true, false, false}), messageShown);
  EXPECT_NE(std::string::npos, ReadFile(work.root / "trace.txt").find("not shown again"));

  // The same document, from the ledger: in the receipt and in eshost status.
  const auto status = estest::Run(Program("eshost"), {"status", "--json", "--out", out.string()});
  ASSERT_EQ(0, status.exitCode) << status.err;
  for (const json& kept : {receipt["kept_documents"], json::parse(status.out)["kept_documents"]}) {
    ASSERT_EQ(1u, kept.size());
    EXPECT_EQ("X1", fs::path(kept[0]["document"].get<std::string>()).filename().string());
    EXPECT_EQ(2, kept[0]["times_sent_again"].get<int>());
    EXPECT_NE(std::string::npos, kept[0]["message"].get<std::string>().find("X1"));
  }
}

}  // namespace
