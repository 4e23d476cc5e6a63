// The dialog templates of the module as plain data (generated from resources/Module.rc):
// the headless dialogs build their controls from them.
#pragma once

#include <cstdint>

namespace es::templates {

enum class ControlKind { kStatic, kButton, kCheckBox, kEdit, kCombo, kListView };

// Style bits the headless controls honour.
inline constexpr std::uint32_t kSorted = 0x1;           // LVS_SORTASCENDING, CBS_SORT
inline constexpr std::uint32_t kSingleSelection = 0x2;  // LVS_SINGLESEL
inline constexpr std::uint32_t kDefault = 0x4;          // default push button

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char16_t* text;
  int x, y, width, height;  // dialog units
  std::uint32_t flags;
};

struct DialogTemplate {
  int id;
  int width, height;  // dialog units
  const char16_t* caption;
  unsigned firstControl;  // index into kControls
  unsigned controlCount;
};

extern const ControlTemplate kControls[];
extern const DialogTemplate kDialogs[];
extern const unsigned kDialogCount;

inline const DialogTemplate* FindDialog(int id) {
  for (unsigned i = 0; i < kDialogCount; ++i)
    if (kDialogs[i].id == id) return &kDialogs[i];
  return nullptr;
}

}  // namespace es::templates
