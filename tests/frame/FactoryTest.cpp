// The factory and the element as a host sees them: through raw slots of their tables.
#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "base/ModuleState.h"
#include "base/Text.h"
#include "frame/VAVudiImplement.h"
#include "platform/Platform.h"
#include "tests/attrs/AttrsTestSupport.h"
#include "tests/support/Capture.h"
#include "tests/frame/ModuleAttachEnvironment.h"

using estest::CallSlot;

// A replaceable allocator that can be told to fail, for the failed element allocation.
static std::atomic<bool> gFailAllocations{false};
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (gFailAllocations.load()) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

IElementFactory* NewFactory() {
  IElementFactory* factory = nullptr;
  EXPECT_EQ(1, es::CreateImplements(7, &factory));
  return factory;
}

std::u16string DisplayName(void* object, std::int32_t capacity) {
  char16_t buffer[64] = {u'x', u'x', u'x', u'x', u'x'};
  EXPECT_EQ(kS_OK, (CallSlot<HResult, char16_t*, std::int32_t>(object, 2, buffer, capacity)));
  return buffer;
}

// Factory and element answer as their tables say; elements are independent and outlive
// the factory. Number 0 writes nothing; a failed element allocation gives null and E_POINTER.
TEST(Slots, FactoryAndElementAnswerAsTheTableSays) {
  IElementFactory* factory = reinterpret_cast<IElementFactory*>(0x1234);
  EXPECT_EQ(1, es::CreateImplements(0, &factory));
  EXPECT_EQ(reinterpret_cast<IElementFactory*>(0x1234), factory);
  EXPECT_EQ(1, es::CreateImplements(1, nullptr));
  factory = NewFactory();
  ASSERT_NE(nullptr, factory);
  IElement* failed = reinterpret_cast<IElement*>(0x99);
  gFailAllocations = true;
  const HResult result = CallSlot<HResult, IElement**>(factory, 6, &failed);
  gFailAllocations = false;
  EXPECT_EQ(kE_POINTER, result);
  EXPECT_EQ(nullptr, failed);

  const auto* typeName = CallSlot<const char16_t*>(factory, 1);
  EXPECT_EQ(std::u16string(u"VUVOVUR|VUVOVUR"), typeName);
  EXPECT_EQ(u"External Storage", DisplayName(factory, 64));
  EXPECT_EQ(u"Exte", DisplayName(factory, 5));
  void* icon = CallSlot<void*>(factory, 3);
  EXPECT_NE(nullptr, icon);
  EXPECT_EQ(icon, CallSlot<void*>(factory, 3)) << "a shared resource icon";
  EXPECT_FALSE(CallSlot<bool>(factory, 5));

  IElement* element = nullptr;
  IElement* other = nullptr;
  for (IElement** made : {&element, &other}) EXPECT_EQ(kS_OK, (CallSlot<HResult, IElement**>(factory, 6, made)));
  ASSERT_NE(nullptr, element);
  ASSERT_NE(element, other);
  CallSlot<void>(factory, 0);
  EXPECT_EQ(typeName, CallSlot<const char16_t*>(element, 1)) << "the same static text";
  EXPECT_EQ(u"External Storage", DisplayName(other, 32));
  EXPECT_EQ(icon, CallSlot<void*>(element, 3));
  for (int slot : {6, 8, 9, 10, 11}) EXPECT_TRUE(CallSlot<bool>(element, slot)) << "slot " << slot;
  EXPECT_EQ(64u, CallSlot<std::uint32_t>(element, 12));
  EXPECT_EQ(64u, CallSlot<std::uint32_t>(other, 12));
  std::uint32_t value = 5;
  EXPECT_EQ(kS_OK, (CallSlot<HResult, std::uint64_t, std::uint32_t*>(element, 15, 77, &value)));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(kE_POINTER, (CallSlot<HResult, std::uint64_t, std::uint32_t*>(element, 15, 77, &value)));
  EXPECT_EQ(kE_NOTIMPL, CallSlot<HResult>(element, 16));

  // A fresh page gets the defaults the host relies on, in their order, and the site hears
  // of it once; a page that holds anything is left alone.
  struct Site final : IInitializeSite {
    HResult Reserved0() override { return kE_NOTIMPL; }
    HResult Notify(std::int32_t, std::int32_t) override { return ++notified, kS_OK; }
    int notified = 0;
  } site;
  CAttrContainer fresh(1), used(1);
  used.SetAttr(es::attrs::kPageWidth, 7L, 0);
  const std::int64_t before = es::platform::Os().UnixTime();
  const std::int32_t onFresh = element->InitializeAttributes(&fresh, &site);
  const std::int32_t onUsed = element->InitializeAttributes(&used, &site);
  const std::int64_t after = es::platform::Os().UnixTime();
  std::string got = std::to_string(onFresh) + " " + std::to_string(onUsed) + " notified " +
                    std::to_string(site.notified) + "\n" + attrtest::Render(fresh, "page", "\n", {before, after}) +
                    attrtest::Render(used, "used");
  const std::size_t stamp = got.find("binary stamp now ") + 17;  // then this machine's user and computer names
  got.replace(stamp, got.find('\n', stamp) - stamp, "<user> <computer>");
  attrtest::ExpectGolden("element-fresh-page", got);
  CallSlot<void>(element, 0);
  CallSlot<void>(other, 0);
}

// Answers E_FAIL (which the module ignores), or throws an attribute exception, or another one.
struct ThrowingRegistry : IAttributeRegistry {
  explicit ThrowingRegistry(int m) : mode(m) {}
  HResult RegisterAttribute(std::uint32_t id, const char16_t* name, std::int32_t flags) override {
    calls += std::to_string(id) + " " + es::ToUtf8(name) + " " + std::to_string(flags) + ";";
    if (mode == 1) throw CAttributeException(u"Attribute 0x010000CB is taken 100%s");
    if (mode == 2) throw std::runtime_error("registry broke");
    return kE_FAIL;
  }
  int mode;
  std::string calls;
};

// Registering the signature attribute; what the registry throws is traced and caught, and
// the caller's module state is back when the slot returns.
TEST(Slots, RegisterAttributesCatchesWhatTheRegistryThrows) {
  IElementFactory* factory = NewFactory();
  const struct {
    int mode;
    HResult result;
    std::string trace;
  } rows[] = {
      {0, kS_OK, ""},
      {1, kE_FAIL, "6 VAVudiImplement:61 Attribute 0x010000CB is taken 100%s;"},
      {2, kE_UNEXPECTED, "6 VAVudiImplement:66 Unhandled exception;"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    es::ModuleState callerState;
    es::ModuleState* before = es::SwapModuleState(&callerState);
    estest::TraceCapture traces;
    ThrowingRegistry registry(row.mode);
    EXPECT_EQ(row.result, (CallSlot<HResult, IAttributeRegistry*>(factory, 4, &registry)));
    EXPECT_EQ(&callerState, es::CurrentModuleState());
    es::SwapModuleState(before);
    EXPECT_EQ(std::to_string(0x010000CB) + " SIG_VUVOVUR 0;", registry.calls);
    std::string traced;
    for (const auto& l : traces.Lines())
      traced += std::to_string(l.severity) + " " + l.source + ":" + std::to_string(l.line) + " " + es::ToUtf8(l.text) + ";";
    EXPECT_EQ(row.trace, traced);
  }
  CallSlot<void>(factory, 0);
}

}  // namespace
