// Attribute containers as JSON: an object keyed by the id as "0x%08x"; int and long
// values as numbers, texts as strings, binary values as {"base64": "..."}.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

class CAttrContainer;

namespace eshost {

nlohmann::ordered_json ContainerToJson(const CAttrContainer* container);
std::string Base64(const unsigned char* data, std::size_t size);
std::string IdText(std::uint32_t id);

// Values larger than this go to side files instead of into the manifest line.
inline constexpr std::size_t kLargeValueBytes = 64 * 1024;
// Stores one large value (a text as UTF-8) and gives what the JSON holds in its place;
// false with `why` when it cannot be stored.
using LargeValueFn = std::function<bool(std::uint32_t id, bool text, const std::uint8_t* data, std::size_t size,
                                        nlohmann::ordered_json* ref, std::string* why)>;
bool ContainerToJson(const CAttrContainer* container, const LargeValueFn& large, nlohmann::ordered_json* out,
                     std::string* why);

}  // namespace eshost
