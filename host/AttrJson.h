// Attribute containers as JSON: an object keyed by the id as "0x%08x"; int and long
// values as numbers, texts as strings, binary values as {"base64": "..."}.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

class CAttrContainer;

namespace eshost {

nlohmann::ordered_json ContainerToJson(const CAttrContainer* container);
std::string Base64(const unsigned char* data, std::size_t size);
std::string IdText(std::uint32_t id);

}  // namespace eshost
