#include "storage/StorageName.h"

#include <cstdint>
#include <vector>

#include "platform/Platform.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/Layout.h"

namespace es {

Str ReadStorageName(const Str& directory) {
  auto& os = platform::Os();
  Str expanded;
  if (!os.ExpandEnvironment(directory, layout::kPathCapacity, &expanded)) return Str();
  // The registered directory may be a link; the description file in it is a producer's,
  // and only a regular file is read.
  const Folder storage = Folder::OpenStorage(expanded);
  File file(storage, layout::kDescriptionFile, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) return Str();
  std::vector<std::uint8_t> bytes;
  if (!file.ReadAll(&bytes, layout::kTextFileLimit)) return Str();
  // The text ends at its first zero byte, as a C string would.
  std::size_t length = 0;
  while (length < bytes.size() && bytes[length] != 0) ++length;
  const Str name = os.AnsiToUtf16(reinterpret_cast<const char*>(bytes.data()), length);
  return FirstLineUnlessLeadingCr(name);
}

}  // namespace es
