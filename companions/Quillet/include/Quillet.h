// Attribute container library: typed attribute values keyed by 32-bit ids.
//
// An id is scope (bits 24-31: 1 page, 2 document), value type (bits 16-23: 0x00 int,
// 0x02 long, 0x07 UTF-16 text, 0x08 binary) and number (bits 0-15). The value type of
// the id decides how a value is kept: int and long are 32-bit signed on every
// platform. The serialized form read by CreateFromBuffer is described in
// docs/attribute-block-format.md.
#pragma once

#include <cstdint>

// Carried by a value of any type: what the host's generic access returns.
struct AttrVariant {
  std::uint8_t type;        // the id's value-type byte
  std::int32_t number;      // int and long
  const char16_t* text;     // text, NUL-terminated (owned by the container)
  std::uint32_t textLength; // in UTF-16 units, terminator excluded
  const std::uint8_t* bytes;  // binary (owned by the container)
  std::uint32_t size;       // binary size in bytes
};

// A record carrying one id and one 32-bit value.
struct _SAttrValue {
  std::uint32_t id;
  std::int32_t value;
};

struct IAttrInStream {
  // Returns the number of bytes placed in `buffer` (0 at the end).
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;

 protected:
  ~IAttrInStream() = default;
};

struct IAttrOutStream {
  virtual bool Write(const void* data, std::uint32_t count) = 0;

 protected:
  ~IAttrOutStream() = default;
};

class CAttributeException {
 public:
  explicit CAttributeException(const char16_t* message);
  virtual ~CAttributeException();
  CAttributeException(const CAttributeException& other);
  CAttributeException& operator=(const CAttributeException& other);
  const char16_t* GetMessage() const;

 private:
  char16_t message_[256];
};

class IAttributeContainer {
 public:
  virtual bool Set(std::uint32_t id, const AttrVariant& value, std::uint32_t flags) = 0;
  virtual bool SetBinary(std::uint32_t id, IAttrInStream* stream, int size, std::uint32_t flags) = 0;
  virtual bool Delete(std::uint32_t id) = 0;
  virtual void Destroy() = 0;
  virtual bool Get(std::uint32_t id, AttrVariant* value, std::uint32_t flags) = 0;
  virtual bool GetBinary(std::uint32_t id, IAttrOutStream* stream, std::uint32_t flags) = 0;
  virtual bool IsEmpty() = 0;
  virtual bool IsIn(std::uint32_t id) = 0;
  virtual ~IAttributeContainer();
};

template <class T>
class CAttributeContainer : public IAttributeContainer {
 public:
  void Destroy() override { delete static_cast<T*>(this); }
};

class CAttrContainer : public CAttributeContainer<CAttrContainer> {
 public:
  explicit CAttrContainer(std::uint8_t scope);
  ~CAttrContainer() override;
  CAttrContainer(const CAttrContainer&) = delete;
  CAttrContainer& operator=(const CAttrContainer&) = delete;

  std::uint8_t Scope() const;

  // Adds the attributes of a serialized block. Nonzero on success; on failure the
  // container is unchanged. `one` is always 1. A block of size 0 holds nothing.
  int CreateFromBuffer(const void* data, int one, std::uint32_t size);
  void DeleteAttrIfExist(std::uint32_t id);
  // Nonzero when present; `value` receives int and long values.
  int GetAttr(std::uint32_t id, long* value, std::uint32_t flags) const;

  // Each replaces a value already present. False when the value does not suit the id.
  bool SetAttr(std::uint32_t id, int value, std::uint32_t flags);
  bool SetAttr(std::uint32_t id, long value, std::uint32_t flags);
  bool SetAttr(std::uint32_t id, const char16_t* text, std::uint32_t flags);
  bool SetAttr(std::uint32_t id, const void* data, std::uint32_t size, std::uint32_t flags);
  bool SetAttr(const _SAttrValue* value);

  // IAttributeContainer
  bool Set(std::uint32_t id, const AttrVariant& value, std::uint32_t flags) override;
  bool SetBinary(std::uint32_t id, IAttrInStream* stream, int size, std::uint32_t flags) override;
  bool Delete(std::uint32_t id) override;
  bool Get(std::uint32_t id, AttrVariant* value, std::uint32_t flags) override;
  bool GetBinary(std::uint32_t id, IAttrOutStream* stream, std::uint32_t flags) override;
  bool IsEmpty() override;
  bool IsIn(std::uint32_t id) override;

  // In the order the attributes were first set.
  std::uint32_t Count() const;
  bool GetAt(std::uint32_t index, std::uint32_t* id, AttrVariant* value) const;

  // Writes the serialized block; returns the size it needs. Writes nothing when
  // `capacity` is too small.
  std::uint32_t Serialize(std::uint8_t* buffer, std::uint32_t capacity) const;

 private:
  struct Impl;
  Impl* impl_;
};
