// Writes the storage tree: storage, group and document folders and their files.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "producer/Producer.h"
#include "storage/Layout.h"

namespace fs = std::filesystem;

namespace esproduce {
namespace {

// The layout's names are ASCII; the producer works with narrow names.
template <std::size_t N>
std::string Name(const char16_t (&name)[N]) {
  std::string out;
  for (std::size_t i = 0; i + 1 < N; ++i) out.push_back(static_cast<char>(name[i]));
  return out;
}

std::string Quoted(const fs::path& path) { return "'" + PathToUtf8(path) + "'"; }

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// A name inside its parent folder: relative, not empty, never climbing out of it. Folder
// names are one level; file names may reach into sub-folders of the document.
bool CheckName(const std::string& name, const fs::path& parent, const char* what, bool nested,
               std::string* error) {
  const fs::path relative = PathFromUtf8(name);
  bool ok = !name.empty() && relative.is_relative() && !relative.has_root_name();
  int parts = 0;
  for (const fs::path& part : relative) {
    ++parts;
    if (part == ".." || part == ".") ok = false;
  }
  if (!nested && parts != 1) ok = false;
  if (!ok) return Fail(error, std::string("invalid ") + what + " name '" + name + "' in " + Quoted(parent));
  return true;
}

bool MakeFolder(const fs::path& folder, std::string* error) {
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (fs::is_directory(status)) return true;
  if (fs::exists(status))
    return Fail(error, "cannot create folder " + Quoted(folder) + ": a file of that name exists");
  fs::create_directories(folder, ec);
  if (ec) return Fail(error, "cannot create folder " + Quoted(folder) + ": " + ec.message());
  return true;
}

bool WriteFile(const fs::path& path, const void* data, std::size_t size, bool readOnly, std::string* error) {
  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(path, ec);
  if (fs::is_directory(existing))
    return Fail(error, "cannot write file " + Quoted(path) + ": a folder of that name exists");
  if (fs::exists(existing)) {
    // A read-only file from an earlier run must give way (Windows refuses to delete it).
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    if (!fs::remove(path, ec) || ec)
      return Fail(error, "cannot replace file " + Quoted(path) + ": " + ec.message());
  }
  if (path.has_parent_path() && !MakeFolder(path.parent_path(), error)) return false;

  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    const int reason = errno;
    return Fail(error, "cannot create file " + Quoted(path) + ": " +
                           (reason != 0 ? std::generic_category().message(reason) : "open failed"));
  }
  if (size > 0) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    const int reason = errno;
    return Fail(error, "cannot write file " + Quoted(path) + ": " +
                           (reason != 0 ? std::generic_category().message(reason) : "write failed"));
  }
  if (readOnly) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
    if (ec) return Fail(error, "cannot make file " + Quoted(path) + " read-only: " + ec.message());
  }
  return true;
}

bool WriteFile(const fs::path& path, const std::string& text, std::string* error) {
  return WriteFile(path, text.data(), text.size(), false, error);
}
bool WriteFile(const fs::path& path, const Bytes& bytes, std::string* error) {
  return WriteFile(path, bytes.data(), bytes.size(), false, error);
}

std::string OrderText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

bool WriteDocument(const fs::path& groupFolder, const DocumentPlan& document, std::string* error) {
  if (!CheckName(document.folderName, groupFolder, "document folder", false, error)) return false;
  const fs::path folder = groupFolder / PathFromUtf8(document.folderName);
  if (!MakeFolder(folder, error)) return false;

  for (const FilePlan& file : document.files) {
    if (!CheckName(file.name, folder, "file", true, error)) return false;
    if (!WriteFile(folder / PathFromUtf8(file.name), file.content.data(), file.content.size(), file.readOnly, error))
      return false;
  }
  if (document.commands && !WriteFile(folder / Name(es::layout::kCommandsFile), *document.commands, error))
    return false;
  if (document.kvattr && !WriteFile(folder / Name(es::layout::kKvAttrFile), *document.kvattr, error)) return false;
  // The attribute file comes last: it announces pages that must then be there.
  if (document.attributeFile &&
      !WriteFile(folder / Name(es::layout::kAttributeFile), *document.attributeFile, error))
    return false;
  return true;
}

bool WriteGroup(const fs::path& storageRoot, const GroupPlan& group, std::string* error) {
  if (!CheckName(group.folderName, storageRoot, "group folder", false, error)) return false;
  const fs::path folder = storageRoot / PathFromUtf8(group.folderName);
  if (!MakeFolder(folder, error)) return false;

  for (const DocumentPlan& document : group.documents)
    if (!WriteDocument(folder, document, error)) return false;

  const fs::path orderFile = folder / Name(es::layout::kOrderFile);
  if (group.rawOrderFile) {
    if (!WriteFile(orderFile, *group.rawOrderFile, error)) return false;
  } else if (group.order) {
    if (!WriteFile(orderFile, OrderText(*group.order), error)) return false;
  }
  // The lock file makes the group available to an importer, so it is written only once
  // everything else of the group is in place.
  if (group.lockText && !WriteFile(folder / Name(es::layout::kLockFile), *group.lockText, error)) return false;
  return true;
}

bool WriteStorage(const fs::path& root, const StoragePlan& storage, std::string* error) {
  if (!MakeFolder(root, error)) return false;
  if (storage.description && !WriteFile(root / Name(es::layout::kDescriptionFile), *storage.description, error))
    return false;
  for (const GroupPlan& group : storage.groups)
    if (!WriteGroup(root, group, error)) return false;
  if (storage.groupOrder &&
      !WriteFile(root / Name(es::layout::kOrderFile), OrderText(*storage.groupOrder), error))
    return false;
  return true;
}

StorageCounts Count(const StoragePlan& storage) {
  StorageCounts counts;
  counts.groups = storage.groups.size();
  for (const GroupPlan& group : storage.groups) {
    counts.documents += group.documents.size();
    for (const DocumentPlan& document : group.documents) {
      counts.files += document.files.size();
      counts.files += document.attributeFile ? 1 : 0;
      counts.files += document.commands ? 1 : 0;
      counts.files += document.kvattr ? 1 : 0;
    }
  }
  return counts;
}

}  // namespace esproduce
