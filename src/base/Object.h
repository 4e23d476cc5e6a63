// Base of the module's data classes (attribute readers, commands parser): objects owned
// through a base pointer, destroyed through it.
#pragma once

namespace es {

class CObject {
 public:
  virtual ~CObject() = default;
};

}  // namespace es
