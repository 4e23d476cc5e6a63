#include "frame/VAVudiImplement.h"

#include <new>

#include "Quillet.h"
#include "frame/Element.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "platform/Resources.h"
#include "ResourceIds.h"
#include "attrs/AttributeIds.h"

namespace es {

const ElementTypeDescriptor kElementTypeDescriptor = {
    u"VUVOVUR|VUVOVUR", IDS_DISPLAY_NAME, IDI_MODULE, attrs::kPageSignature, u"SIG_VUVOVUR", 0x40,
};

namespace {
// Line numbers of the two exception traces of RegisterAttributes, fixed for the logs.
constexpr int kLineAttributeException = 61;
constexpr int kLineUnhandledException = 66;
}  // namespace

HResult LoadDisplayName(const ElementTypeDescriptor* descriptor, char16_t* buffer, std::int32_t capacity) {
  ModuleStateScope scope;
  platform::Os().LoadString(CurrentModuleState()->resources, descriptor->displayNameId, buffer, capacity);
  return kS_OK;
}

IconHandle LoadElementIcon(const ElementTypeDescriptor* descriptor) {
  ModuleStateScope scope;
  return platform::LoadIconResource(CurrentModuleState()->resources, descriptor->iconId);
}

void CVAVudiImplement::DeleteThis() { delete this; }

const char16_t* CVAVudiImplement::GetTypeName() { return descriptor_->typeName; }

HResult CVAVudiImplement::GetDisplayName(char16_t* buffer, std::int32_t capacity) {
  return LoadDisplayName(descriptor_, buffer, capacity);
}

IconHandle CVAVudiImplement::GetIcon() { return LoadElementIcon(descriptor_); }

HResult CVAVudiImplement::RegisterAttributes(IAttributeRegistry* registry) {
  ModuleStateScope scope;
  try {
    registry->RegisterAttribute(descriptor_->signatureAttributeId, descriptor_->signatureName, 0);
  } catch (const CAttributeException& e) {
    // The message is passed as an insert so that a percent sign in it stays text.
    Trace(kSevProgress, kSourceFrame, kLineAttributeException, u"%s", e.GetMessage());
    return kE_FAIL;
  } catch (...) {
    Trace(kSevProgress, kSourceFrame, kLineUnhandledException, u"Unhandled exception");
    return kE_UNEXPECTED;
  }
  return kS_OK;
}

bool CVAVudiImplement::QueryFlag5() { return false; }

HResult CVAVudiImplement::CreateElement(IElement** element) {
  *element = nullptr;
  try {
    *element = new CElement(descriptor_);
  } catch (...) {
    return kE_POINTER;
  }
  return kS_OK;
}

std::int32_t CreateImplements(std::uint32_t number, IElementFactory** factory) {
  if (number == 0 || factory == nullptr) return 1;
  try {
    *factory = new CVAVudiImplement(&kElementTypeDescriptor);
  } catch (...) {
    // Nothing is reported: the host sees no factory.
  }
  return 1;
}

}  // namespace es
