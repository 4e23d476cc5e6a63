// Feeds arbitrary bytes to the attribute container as a serialized block, for a page
// and for a document container. A block that is accepted must write itself back: the
// same bytes when it names no id twice, and a fixed point in any case.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Quillet.h"
#include "QuilletBlockWriter.h"

namespace {

std::vector<std::uint8_t> Serialized(const CAttrContainer& c) {
  std::vector<std::uint8_t> out(c.Serialize(nullptr, 0));
  if (out.empty() || c.Serialize(out.data(), static_cast<std::uint32_t>(out.size())) != out.size()) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  const auto n = static_cast<std::uint32_t>(size);
  for (std::uint8_t scope : {quillet::kScopePage, quillet::kScopeDocument}) {
    CAttrContainer c(scope);
    if (c.CreateFromBuffer(data, 1, n) == 0) {
      if (!c.IsEmpty()) std::abort();  // a refused block changes nothing
      continue;
    }
    if (n == 0) {
      if (!c.IsEmpty()) std::abort();
      continue;
    }
    const std::vector<std::uint8_t> again = Serialized(c);
    if (c.Count() == quillet::GetU32(data + 8) && (again.size() != n || std::memcmp(again.data(), data, n) != 0))
      std::abort();
    CAttrContainer other(scope);
    if (other.CreateFromBuffer(again.data(), 1, static_cast<std::uint32_t>(again.size())) == 0) std::abort();
    if (Serialized(other) != again) std::abort();
  }
  return 0;
}
