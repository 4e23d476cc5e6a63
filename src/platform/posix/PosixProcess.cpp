// The process and its modules on POSIX: environment, user and computer names, loaded
// objects, and the string table that stands in for a resource section.
#include <link.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "Lunmere.h"
#include "platform/posix/Names.h"
#include "platform/posix/PosixBackend.h"
#include "ModuleStrings.h"

extern char** environ;

namespace es::platform {
namespace {

// The string table generated from the resource script, served the way LoadStringW
// serves a resource section.
int LoadFromTable(std::uint32_t id, char16_t* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  for (unsigned i = 0; i < resources::kStringCount; ++i) {
    if (resources::kStrings[i].id != id) continue;
    const char16_t* text = resources::kStrings[i].text;
    int length = 0;
    while (text[length] && length < capacity - 1) ++length;
    std::memcpy(buffer, text, sizeof(char16_t) * static_cast<std::size_t>(length));
    buffer[length] = 0;
    return length;
  }
  return 0;
}

// Registered with the language-resource layer while this binary is loaded.
struct ModuleRecord {
  LunmereModule record{kLunmereMagic, nullptr, &LoadFromTable};
  ModuleRecord() {
    record.anyAddressInside = &record;
    LunmereRegisterModule(&record);
  }
  ~ModuleRecord() { LunmereUnregisterModule(&record); }
};

}  // namespace

void* ThisModuleHandle() {
  static ModuleRecord module;
  return &module.record;
}

namespace posix {
namespace {

std::optional<Str> LookUpVariable(const Str& name) {
  if (name.empty() || name.find(u'=') != Str::npos) return std::nullopt;
  const std::string bytes = EncodeName(name);
  if (const char* value = getenv(bytes.c_str())) return DecodeName(value);
  // Windows finds %path% as PATH: look for a name that differs only in case.
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (!equals) continue;
    if (EqualNoCase(DecodeName(std::string_view(*entry, equals - *entry)), name)) return DecodeName(equals + 1);
  }
  return std::nullopt;
}

bool Fit(const Str& value, std::size_t capacity, Str* out) {
  if (value.empty() || value.size() + 1 > capacity) return false;
  *out = value;
  return true;
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The address of an object's first byte (its ELF header), standing in for a module
// handle: it lies inside the object, so ModuleFileName finds the object again.
void* ObjectBase(const dl_phdr_info* info) {
  ElfW(Addr) lowest = 0;
  bool found = false;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    if (!found || segment.p_vaddr < lowest) lowest = segment.p_vaddr;
    found = true;
  }
  return found ? reinterpret_cast<void*>(info->dlpi_addr + lowest) : nullptr;
}

bool Contains(const dl_phdr_info* info, const void* address) {
  const ElfW(Addr) wanted = reinterpret_cast<ElfW(Addr)>(address);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const ElfW(Addr) start = info->dlpi_addr + segment.p_vaddr;
    if (wanted >= start && wanted - start < segment.p_memsz) return true;
  }
  return false;
}

// The file of a loaded object; the program itself has an empty name in the list.
std::string ObjectPath(const dl_phdr_info* info) {
  if (!info->dlpi_name || !*info->dlpi_name) return ExecutablePath();
  if (char* real = realpath(info->dlpi_name, nullptr)) {
    std::string path = real;
    free(real);
    return path;
  }
  return info->dlpi_name;
}

}  // namespace

bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded) {
  // ExpandEnvironmentStringsW's rules: a reference runs from one '%' to the next; an
  // unknown one is copied as written and scanning goes on after it; a '%' without a
  // partner is copied.
  Str out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'%') {
      std::size_t next = text.find(u'%', i);
      if (next == Str::npos) next = text.size();
      out.append(text, i, next - i);
      i = next;
      continue;
    }
    const std::size_t close = text.find(u'%', i + 1);
    if (close == Str::npos) {
      out.append(text, i, Str::npos);
      break;
    }
    if (std::optional<Str> value = LookUpVariable(text.substr(i + 1, close - i - 1))) {
      out += *value;
    } else {
      out.append(text, i, close + 1 - i);
    }
    i = close + 1;
  }
  if (out.size() + 1 > capacity) return false;
  *expanded = std::move(out);
  return true;
}

bool UserName(std::size_t capacity, Str* name) {
  std::string found;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_name) {
    found = result->pw_name;
  }
  if (found.empty()) {
    if (const char* user = getenv("USER")) found = user;
  }
  return Fit(DecodeName(found), capacity, name);
}

bool ComputerName(std::size_t capacity, Str* name) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  // Windows gives the machine's own name without its domain.
  std::string_view shortName(host);
  shortName = shortName.substr(0, shortName.find('.'));
  return Fit(DecodeName(shortName), capacity, name);
}

void* ModuleHandleByName(const Str& name) {
  struct Search {
    std::u16string_view wanted;
    void* handle = nullptr;
  } search;
  const std::size_t slash = name.rfind(u'/');
  search.wanted = std::u16string_view(name).substr(slash == Str::npos ? 0 : slash + 1);
  if (search.wanted.empty()) return nullptr;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* search = static_cast<Search*>(data);
        const std::string path = ObjectPath(info);
        if (!EqualNoCase(DecodeName(BaseName(path)), search->wanted)) return 0;
        search->handle = ObjectBase(info);
        return 1;
      },
      &search);
  return search.handle;
}

Str ModuleFileName(void* module) {
  if (!module) return DecodeName(ExecutablePath());
  struct Search {
    const void* address;
    std::string path;
  } search{module, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto* search = static_cast<Search*>(data);
        if (!Contains(info, search->address)) return 0;
        search->path = ObjectPath(info);
        return 1;
      },
      &search);
  return DecodeName(search.path);
}

int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  return LunmereLoadString(resourceModule, id, buffer, capacity);
}

}  // namespace posix
}  // namespace es::platform
