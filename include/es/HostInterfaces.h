// The contract between a host application and the External Storage input module.
// Shared by the host and the module. Only plain types cross it: no C++ standard
// library type, no exception.
//
// Slot numbers are part of the contract: the position of each operation in its
// object's table of virtual operations is fixed. Slot 0 of the factory and of the
// element is one explicit "delete yourself" entry, not a C++ virtual destructor,
// because compilers disagree on how many slots a virtual destructor takes. Slots the
// module never calls are kept as Reserved entries so that the numbering holds.
//
// Text is UTF-16 (char16_t, the same ABI as wchar_t on Windows).
//
// BSTR-style strings (ISettingsStore): on Windows they are real BSTRs
// (SysAllocStringLen / SysFreeString). Elsewhere a BSTR points just after a 4-byte
// byte length, into one malloc'd block that ends with a NUL; it is freed with free()
// of the block start. Whoever receives a BSTR from the other side frees it.
#pragma once

#include <cstdint>

using HResult = std::int32_t;
using WindowHandle = void*;
using IconHandle = void*;
using Bstr = char16_t*;

inline constexpr HResult kS_OK = 0;
inline constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult kE_POINTER = static_cast<HResult>(0x80004003u);
inline constexpr HResult kE_UNEXPECTED = static_cast<HResult>(0x8000FFFFu);
inline constexpr HResult kE_NOTIMPL = static_cast<HResult>(0x80004001u);

class CAttrContainer;  // the attribute container library's class

struct EsGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// The settings store a host keeps for each element (COM-style: AddRef and Release
// bracket every use).
struct ISettingsStore {
  virtual HResult QueryInterface(const EsGuid& iid, void** object) = 0;  // 0
  virtual std::uint32_t AddRef() = 0;                                      // 1
  virtual std::uint32_t Release() = 0;                                     // 2
  virtual HResult Reserved3() = 0;
  virtual HResult Reserved4() = 0;
  virtual HResult Reserved5() = 0;
  virtual HResult Reserved6() = 0;
  virtual HResult Reserved7() = 0;
  virtual HResult Reserved8() = 0;
  virtual HResult Reserved9() = 0;
  virtual HResult Reserved10() = 0;
  virtual HResult Reserved11() = 0;
  virtual HResult GetString(Bstr name, Bstr* value) = 0;         // 12
  virtual HResult GetInteger(Bstr name, std::int64_t* value) = 0;  // 13
  virtual HResult Reserved14() = 0;
  virtual HResult GetBool(Bstr name, std::int16_t* value) = 0;  // 15
  virtual HResult Reserved16() = 0;
  virtual HResult SetString(Bstr name, Bstr value) = 0;          // 17
  virtual HResult SetInteger(Bstr name, std::int64_t value) = 0;  // 18
  virtual HResult Reserved19() = 0;
  virtual HResult SetBool(Bstr name, std::int16_t value) = 0;  // 20

 protected:
  ~ISettingsStore() = default;
};

// The interface id carried by errors of the settings store.
inline constexpr EsGuid kIID_ISettingsStore = {
    0x5B35E7D1, 0x1FDE, 0x4D43, {0xA5, 0xF7, 0xB0, 0x2E, 0xDF, 0x0E, 0xB7, 0x07}};

// The host's receiver of pages during a scan.
struct IScanningCallback {
  virtual bool IsCancelled() = 0;  // 0
  // 1: a PDF page; the content bytes and both containers become the host's.
  virtual bool AddPageWithContent(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                                  CAttrContainer* document, std::uint8_t* content,
                                  std::uint32_t contentSize) = 0;
  // 2: one page; `document` only with a document's first page, else null. The
  // containers become the host's.
  virtual bool AddPage(CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                       CAttrContainer* document) = 0;
  virtual HResult Reserved3() = 0;
  virtual bool IsUnattended() = 0;  // 4

 protected:
  ~IScanningCallback() = default;
};

struct IAttributeRegistry {
  // 0: may throw CAttributeException; the result is ignored.
  virtual HResult RegisterAttribute(std::uint32_t id, const char16_t* name, std::int32_t flags) = 0;

 protected:
  ~IAttributeRegistry() = default;
};

struct IInitializeSite {
  virtual HResult Reserved0() = 0;
  virtual HResult Notify(std::int32_t a, std::int32_t b) = 0;  // 1

 protected:
  ~IInitializeSite() = default;
};

struct IElement {
  virtual void DeleteThis() = 0;                                          // 0
  virtual const char16_t* GetTypeName() = 0;                              // 1
  virtual HResult GetDisplayName(char16_t* buffer, std::int32_t capacity) = 0;  // 2
  virtual IconHandle GetIcon() = 0;                                       // 3
  virtual std::int32_t LoadSettings(ISettingsStore* store) = 0;           // 4
  virtual HResult SaveSettings(ISettingsStore* store) = 0;                // 5
  virtual bool QueryFlag6() = 0;                                          // 6
  virtual std::int32_t InitializeAttributes(CAttrContainer* container, IInitializeSite* site) = 0;  // 7

 protected:
  ~IElement() = default;
};

struct IElementScanning : IElement {
  virtual bool QueryFlag8() = 0;                  // 8
  virtual bool QueryFlag9() = 0;                  // 9
  virtual bool QueryFlag10() = 0;                 // 10
  virtual bool QueryFlag11() = 0;                 // 11
  virtual std::uint32_t GetElementFlags() = 0;    // 12
  // 13: 0 OK, 15001 Scan & Close, 1 cancelled.
  virtual std::int32_t Configure(WindowHandle parent, bool allowScan, const char16_t* captionFormat,
                                 bool captionGiven) = 0;
  // 14: always 1.
  virtual std::int32_t Scan(WindowHandle parent, std::uint64_t value, IScanningCallback* callback) = 0;
  virtual HResult QueryValue(std::uint64_t value, std::uint32_t* result) = 0;  // 15
  virtual HResult UnsupportedOperation() = 0;                                  // 16

 protected:
  ~IElementScanning() = default;
};

struct IElementFactory {
  virtual void DeleteThis() = 0;                                          // 0
  virtual const char16_t* GetTypeName() = 0;                              // 1
  virtual HResult GetDisplayName(char16_t* buffer, std::int32_t capacity) = 0;  // 2
  virtual IconHandle GetIcon() = 0;                                       // 3
  virtual HResult RegisterAttributes(IAttributeRegistry* registry) = 0;   // 4

 protected:
  ~IElementFactory() = default;
};

struct IElementFactoryScanning : IElementFactory {
  virtual bool QueryFlag5() = 0;                       // 5
  virtual HResult CreateElement(IElement** element) = 0;  // 6

 protected:
  ~IElementFactoryScanning() = default;
};

// The module's one export. Returns 1 on every path; success shows as a factory.
using ScanningCreateImplementsFn = std::int32_t (*)(std::uint32_t number, IElementFactory** factory);
inline constexpr char kScanningCreateImplementsName[] = "ScanningCreateImplements";
