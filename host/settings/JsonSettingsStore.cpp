#include "JsonSettingsStore.h"

#include "es/Bstr.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <new>
#include <random>
#include <sstream>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace es::host {

namespace fs = std::filesystem;
using Json = nlohmann::json;

struct JsonSettingsStore::Values {
  Json object = Json::object();
};

namespace {

std::atomic<int> liveObjects{0};

// Deeper values cannot come from the element; the limit keeps writing them back
// (which recurses) from exhausting the stack.
constexpr int kMaxDepth = 256;

// What a known name must hold. Names outside the list may hold anything.
enum class Kind { Any, Bool, Integer, String };

Kind KindOf(const std::string& name) {
  if (name == "AllowRescanning" || name == "DeleteFaxes" || name == "DeleteGroupFolder") return Kind::Bool;
  if (name == "Number of dirs") return Kind::Integer;
  if (name == "SelectedPath") return Kind::String;
  if (name.size() > 3 && name.compare(0, 3, "Dir") == 0 &&
      name.find_first_not_of("0123456789", 3) == std::string::npos) {
    return Kind::String;
  }
  return Kind::Any;
}

bool IsInt64(const Json& value) {
  if (value.is_number_unsigned()) {
    return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  }
  return value.is_number_integer();
}

bool Fits(Kind kind, const Json& value) {
  switch (kind) {
    case Kind::Bool: return value.is_boolean();
    case Kind::Integer: return IsInt64(value);
    case Kind::String: return value.is_string();
    case Kind::Any: return true;
  }
  return false;
}

const char* Expected(Kind kind) {
  switch (kind) {
    case Kind::Bool: return "true or false";
    case Kind::Integer: return "a whole number from -9223372036854775808 to 9223372036854775807";
    case Kind::String: return "a string";
    case Kind::Any: break;
  }
  return "any value";
}

std::string Describe(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "a list";
    case Json::value_t::string: return "a string";
    case Json::value_t::boolean: return value.get<bool>() ? "true" : "false";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float: return "the number " + value.dump();
    default: return "an unusable value";
  }
}

// UTF-16 to UTF-8. False on a lone surrogate, which UTF-8 (and so JSON text) cannot hold.
bool ToUtf8(std::u16string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

// UTF-8 to UTF-16. The JSON reader has already rejected malformed text; should any
// slip through, each bad byte becomes U+FFFD rather than being read past.
std::u16string FromUtf8(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    std::size_t extra = 0;
    std::uint32_t c = 0;
    std::uint32_t min = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    bool ok = in.size() - i > extra;
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (next & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return out;
}

// A BSTR from the module as UTF-8; a null BSTR is empty text.
bool Utf8Of(const char16_t* text, std::string* out) {
  if (text == nullptr) {
    out->clear();
    return true;
  }
  return ToUtf8(std::u16string_view(text), out);
}

std::string Utf8Path(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// Runs one store operation so that no exception reaches the module.
template <typename Body>
HResult Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kE_OUTOFMEMORY;
  } catch (...) {
    return kE_FAIL;
  }
}

std::FILE* OpenForWriting(const fs::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

// Pushes the written bytes to the disk, so that the rename that follows cannot
// outrun them after a power cut.
bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

// A name beside the target that no other writer picks at the same time.
fs::path TempPathFor(const fs::path& target) {
  std::random_device random;
  std::ostringstream suffix;
  suffix << '.' << std::hex << random() << random() << ".tmp";
  fs::path temp = target;
  temp += suffix.str();
  return temp;
}

}  // namespace

ComPtr<JsonSettingsStore> JsonSettingsStore::Open(const fs::path& path) {
  ComPtr<JsonSettingsStore> store(new JsonSettingsStore(path));
  store->Load();
  return store;
}

JsonSettingsStore::JsonSettingsStore(fs::path path) : path_(std::move(path)), values_(std::make_unique<Values>()) {
  ++liveObjects;
}

JsonSettingsStore::~JsonSettingsStore() { --liveObjects; }

int JsonSettingsStore::LiveObjects() { return liveObjects.load(); }

void JsonSettingsStore::Load() {
  const std::string file = Utf8Path(path_);
  std::error_code ec;
  const fs::file_status status = fs::status(path_, ec);
  if (status.type() == fs::file_type::not_found) return;  // no settings saved yet
  if (ec) {
    error_ = file + ": cannot be read: " + ec.message();
    return;
  }
  if (fs::is_directory(status)) {
    error_ = file + ": is a folder, not a settings file";
    return;
  }

  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    error_ = file + ": cannot be read: " + ErrnoText(errno);
    return;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error_ = file + ": cannot be read: " + ErrnoText(errno);
    return;
  }

  bool tooDeep = false;
  Json object;
  try {
    object = Json::parse(text, [&tooDeep](int depth, Json::parse_event_t, Json&) {
      if (depth > kMaxDepth) tooDeep = true;
      return !tooDeep;
    });
  } catch (const Json::parse_error& e) {
    std::string reason = e.what();
    const std::size_t tag = reason.find("] ");
    if (reason.rfind("[json.exception.", 0) == 0 && tag != std::string::npos) reason.erase(0, tag + 2);
    error_ = file + ": not valid JSON: " + reason;
    return;
  }
  if (tooDeep) {
    error_ = file + ": values are nested more than " + std::to_string(kMaxDepth) + " levels deep";
    return;
  }
  if (!object.is_object()) {
    error_ = file + ": the settings must be one JSON object, found " + Describe(object);
    return;
  }
  for (const auto& [name, value] : object.items()) {
    const Kind kind = KindOf(name);
    if (!Fits(kind, value)) {
      error_ = file + ": \"" + name + "\" must be " + Expected(kind) + ", found " + Describe(value);
      return;
    }
  }
  values_->object = std::move(object);
}

std::string JsonSettingsStore::Serialize() const { return values_->object.dump(2) + "\n"; }

bool JsonSettingsStore::Commit(std::string* message) {
  std::string failure;
  const std::string file = Utf8Path(path_);
  fs::path temp;
  try {
    if (HasError()) {
      failure = error_ + " (not overwriting it; correct or remove the file)";
    } else {
      const std::string text = Serialize();
      temp = TempPathFor(path_);
      std::FILE* out = OpenForWriting(temp);
      if (out == nullptr) {
        failure = file + ": cannot be written: " + ErrnoText(errno);
        temp.clear();  // nothing was created
      } else {
        bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
                       SyncToDisk(out);
        int writeError = written ? 0 : errno;
        if (std::fclose(out) != 0 && written) {
          written = false;
          writeError = errno;
        }
        if (!written) {
          failure = file + ": cannot be written: " + (writeError != 0 ? ErrnoText(writeError) : "write error");
        } else {
          std::error_code ec;
          // Keep who may read the settings as the user had it.
          const fs::file_status old = fs::status(path_, ec);
          if (!ec && fs::is_regular_file(old)) fs::permissions(temp, old.permissions(), ec);
          fs::rename(temp, path_, ec);
          if (ec) {
            failure = file + ": cannot be replaced: " + ec.message();
          } else {
            temp.clear();
          }
        }
      }
    }
  } catch (const std::exception& e) {
    failure = file + ": cannot be written: " + e.what();
  }
  if (!temp.empty()) {
    std::error_code ignored;
    fs::remove(temp, ignored);
  }
  if (failure.empty()) return true;
  if (message != nullptr) *message = failure;
  return false;
}

HResult JsonSettingsStore::QueryInterface(const EsGuid& iid, void** object) {
  if (object == nullptr) return kE_POINTER;
  const auto same = [&iid](const EsGuid& other) { return std::memcmp(&iid, &other, sizeof iid) == 0; };
  if (same(kIID_ISettingsStore) || same(kIID_IUnknown)) {
    *object = static_cast<ISettingsStore*>(this);
    AddRef();
    return kS_OK;
  }
  *object = nullptr;
  return kE_NOINTERFACE;
}

std::uint32_t JsonSettingsStore::AddRef() { return ++references_; }

std::uint32_t JsonSettingsStore::Release() {
  const std::uint32_t left = --references_;
  if (left == 0) delete this;
  return left;
}

HResult JsonSettingsStore::GetString(Bstr name, Bstr* value) {
  if (value == nullptr) return kE_POINTER;
  *value = nullptr;
  return Guarded([&]() -> HResult {
    if (HasError()) return kE_FAIL;
    std::string key;
    if (!Utf8Of(name, &key)) return kE_INVALIDARG;
    const auto found = values_->object.find(key);
    if (found == values_->object.end()) return kE_NOTFOUND;
    if (!found->is_string()) return kE_FAIL;
    const std::u16string text = FromUtf8(found->get_ref<const std::string&>());
    Bstr result = es::bstr::Alloc(text.data(), text.size());
    if (result == nullptr) return kE_OUTOFMEMORY;
    *value = result;
    return kS_OK;
  });
}

HResult JsonSettingsStore::GetInteger(Bstr name, std::int64_t* value) {
  if (value == nullptr) return kE_POINTER;
  return Guarded([&]() -> HResult {
    if (HasError()) return kE_FAIL;
    std::string key;
    if (!Utf8Of(name, &key)) return kE_INVALIDARG;
    const auto found = values_->object.find(key);
    if (found == values_->object.end()) return kE_NOTFOUND;
    if (!IsInt64(*found)) return kE_FAIL;
    *value = found->get<std::int64_t>();
    return kS_OK;
  });
}

HResult JsonSettingsStore::GetBool(Bstr name, std::int16_t* value) {
  if (value == nullptr) return kE_POINTER;
  return Guarded([&]() -> HResult {
    if (HasError()) return kE_FAIL;
    std::string key;
    if (!Utf8Of(name, &key)) return kE_INVALIDARG;
    const auto found = values_->object.find(key);
    if (found == values_->object.end()) return kE_NOTFOUND;
    if (!found->is_boolean()) return kE_FAIL;
    *value = found->get<bool>() ? 1 : 0;
    return kS_OK;
  });
}

namespace {

// Stores `value` under `name` unless the store is broken, the name is not text, or
// a known name would get the wrong type (the file would not open again).
HResult Put(bool broken, Json& object, Bstr name, Json value) {
  if (broken) return kE_FAIL;
  std::string key;
  if (!Utf8Of(name, &key)) return kE_INVALIDARG;
  if (!Fits(KindOf(key), value)) return kE_FAIL;
  object[key] = std::move(value);
  return kS_OK;
}

}  // namespace

HResult JsonSettingsStore::SetString(Bstr name, Bstr value) {
  return Guarded([&]() -> HResult {
    std::string text;
    if (!Utf8Of(value, &text)) return kE_INVALIDARG;
    return Put(HasError(), values_->object, name, Json(std::move(text)));
  });
}

HResult JsonSettingsStore::SetInteger(Bstr name, std::int64_t value) {
  return Guarded([&]() -> HResult { return Put(HasError(), values_->object, name, Json(value)); });
}

HResult JsonSettingsStore::SetBool(Bstr name, std::int16_t value) {
  return Guarded([&]() -> HResult { return Put(HasError(), values_->object, name, Json(value != 0)); });
}

}  // namespace es::host
