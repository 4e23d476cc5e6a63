// Attribute container library: typed attribute values keyed by 32-bit ids.
//
// An id is scope (bits 24-31: 1 page, 2 document), value type (bits 16-23: 0x00 int,
// 0x02 long, 0x07 UTF-16 text, 0x08 binary) and number (bits 0-15). A container holds
// only ids of its own scope. The value type of the id decides how a value is kept: int
// and long are 32-bit signed on every platform (a 64-bit `long` is narrowed modulo
// 2^32, as a 32-bit `long` would have been); texts are copied and kept NUL-terminated;
// binary values are copied. A value that does not suit its id is refused without change.
// Attributes keep the order in which they were first set; replacing a value keeps its
// place. Every trailing `flags` argument is accepted and ignored (callers pass 0).
//
// The serialized form read by CreateFromBuffer and written by Serialize is described in
// docs/attribute-block-format.md; QuilletBlockWriter.h writes it without a container.
//
// Nothing of the C++ standard library appears here: this header is shared with the host.
#pragma once

#include <cstdint>

// Carried by a value of any type: what the host's generic access returns.
struct AttrVariant {
  std::uint8_t type;        // the id's value-type byte
  std::int32_t number;      // int and long
  const char16_t* text;     // text, NUL-terminated (owned by the container)
  std::uint32_t textLength; // in UTF-16 units, terminator excluded
  const std::uint8_t* bytes;  // binary (owned by the container; may be null when size is 0)
  std::uint32_t size;       // binary size in bytes
};

// A record carrying one id and one 32-bit value (for int and long ids).
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

// Thrown by the library (a container asked for an unknown scope) and by hosts that
// refuse an attribute. Its type information lives in the library, so it is caught by
// type in any binary that links the library.
class CAttributeException {
 public:
  // The message is copied (at most 255 units; longer ones are cut). Null means empty.
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
  // `value.type` names the kind of value given; it must suit the id (int and long are
  // interchangeable). A text is taken as `textLength` units and must hold no NUL unit.
  virtual bool Set(std::uint32_t id, const AttrVariant& value, std::uint32_t flags) = 0;
  // Reads exactly `size` bytes from `stream` into a binary id; false (no change) when
  // the stream ends early or `size` is negative.
  virtual bool SetBinary(std::uint32_t id, IAttrInStream* stream, int size, std::uint32_t flags) = 0;
  // True when the id was present.
  virtual bool Delete(std::uint32_t id) = 0;
  // Deletes the container.
  virtual void Destroy() = 0;
  // The pointers handed out stay valid until the value changes or the container goes.
  virtual bool Get(std::uint32_t id, AttrVariant* value, std::uint32_t flags) = 0;
  // Writes a binary value to `stream`; false when absent, not binary, or a write fails.
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
  // Scope 1 (page) or 2 (document); any other scope throws CAttributeException.
  explicit CAttrContainer(std::uint8_t scope);
  ~CAttrContainer() override;
  CAttrContainer(const CAttrContainer&) = delete;
  CAttrContainer& operator=(const CAttrContainer&) = delete;

  std::uint8_t Scope() const;

  // Adds the attributes of a serialized block. Nonzero on success; on failure (a block
  // that is not whole and well-formed, or `one` other than 1) the container is
  // unchanged. A block of size 0 holds nothing. Never reads past `size` bytes.
  int CreateFromBuffer(const void* data, int one, std::uint32_t size);
  void DeleteAttrIfExist(std::uint32_t id);
  // Nonzero when present; `value` (may be null) receives int and long values and is
  // left alone for other types.
  int GetAttr(std::uint32_t id, long* value, std::uint32_t flags) const;

  // Each replaces a value already present. False when the value does not suit the id.
  // Int and long overloads both serve int and long ids.
  bool SetAttr(std::uint32_t id, int value, std::uint32_t flags);
  bool SetAttr(std::uint32_t id, long value, std::uint32_t flags);
  // Null stores an empty text.
  bool SetAttr(std::uint32_t id, const char16_t* text, std::uint32_t flags);
  // Size 0 stores an empty value; null data with a nonzero size is refused.
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

  // In the order the attributes were first set. `id` and `value` may be null.
  std::uint32_t Count() const;
  bool GetAt(std::uint32_t index, std::uint32_t* id, AttrVariant* value) const;

  // Writes the serialized block; returns the size it needs. Writes nothing when
  // `buffer` is null or `capacity` is too small. Returns 0 when the block would not fit
  // in 4 GiB.
  std::uint32_t Serialize(std::uint8_t* buffer, std::uint32_t capacity) const;

 private:
  struct Impl;
  Impl* impl_;
};
