// The element factory the host obtains from the module's one export.
#pragma once

#include <cstdint>

#include "es/HostInterfaces.h"

namespace es {

// The static record naming the element type. Never copied or freed.
struct ElementTypeDescriptor {
  const char16_t* typeName;
  std::uint32_t displayNameId;
  std::uint32_t iconId;
  std::uint32_t signatureAttributeId;
  const char16_t* signatureName;
  std::uint32_t elementFlags;
};

extern const ElementTypeDescriptor kElementTypeDescriptor;

class CVAVudiImplement final : public IElementFactoryScanning {
 public:
  class CElement;

  explicit CVAVudiImplement(const ElementTypeDescriptor* descriptor) : descriptor_(descriptor) {}

  void DeleteThis() override;
  const char16_t* GetTypeName() override;
  HResult GetDisplayName(char16_t* buffer, std::int32_t capacity) override;
  IconHandle GetIcon() override;
  HResult RegisterAttributes(IAttributeRegistry* registry) override;
  bool QueryFlag5() override;
  HResult CreateElement(IElement** element) override;

 private:
  ~CVAVudiImplement() = default;
  const ElementTypeDescriptor* descriptor_;
};

// Shared by the factory and its elements: both answer from the descriptor.
HResult LoadDisplayName(const ElementTypeDescriptor* descriptor, char16_t* buffer, std::int32_t capacity);
IconHandle LoadElementIcon(const ElementTypeDescriptor* descriptor);

// The body of the module's export.
std::int32_t CreateImplements(std::uint32_t number, IElementFactory** factory);

}  // namespace es
