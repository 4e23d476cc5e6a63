#include "host/AttrJson.h"

#include <cstdio>

#include "Quillet.h"
#include "host/ModuleLoader.h"

namespace eshost {

std::string IdText(std::uint32_t id) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", id);
  return buf;
}

std::string Base64(const unsigned char* data, std::size_t size) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const std::uint32_t b0 = data[i];
    const std::uint32_t b1 = i + 1 < size ? data[i + 1] : 0;
    const std::uint32_t b2 = i + 2 < size ? data[i + 2] : 0;
    const std::uint32_t v = (b0 << 16) | (b1 << 8) | b2;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < size ? kAlphabet[v & 63] : '=');
  }
  return out;
}

bool ContainerToJson(const CAttrContainer* container, const LargeValueFn& large, nlohmann::ordered_json* out,
                     std::string* why) {
  if (container == nullptr) {
    *out = nullptr;
    return true;
  }
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (std::uint32_t i = 0; i < container->Count(); ++i) {
    std::uint32_t id = 0;
    AttrVariant value{};
    if (!container->GetAt(i, &id, &value)) continue;
    switch (value.type) {
      case 0x00:
      case 0x02:
        object[IdText(id)] = value.number;
        break;
      case 0x07: {
        std::string text = Utf16To8(std::u16string(value.text != nullptr ? value.text : u"", value.textLength));
        if (large && text.size() > kLargeValueBytes) {
          nlohmann::ordered_json ref;
          if (!large(id, true, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &ref, why)) return false;
          object[IdText(id)] = ref;
        } else {
          object[IdText(id)] = std::move(text);
        }
        break;
      }
      default:
        if (large && value.size > kLargeValueBytes) {
          nlohmann::ordered_json ref;
          if (!large(id, false, value.bytes, value.size, &ref, why)) return false;
          object[IdText(id)] = ref;
        } else {
          object[IdText(id)] = {{"base64", Base64(value.bytes, value.size)}};
        }
        break;
    }
  }
  *out = std::move(object);
  return true;
}

nlohmann::ordered_json ContainerToJson(const CAttrContainer* container) {
  nlohmann::ordered_json out;
  std::string why;
  ContainerToJson(container, LargeValueFn(), &out, &why);
  return out;
}

}  // namespace eshost
