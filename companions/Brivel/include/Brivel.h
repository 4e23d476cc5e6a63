// UI-controls library: message boxes of the import, the application name, context help.
#pragma once

#include <cstdint>

// Shows `text`; style 16 is the error icon. Returns the button pressed.
int MessageBoxText(void* owner, const char16_t* text, std::uint32_t style);
// Shows string resource `id` of the calling module (through its language resources).
int MessageBoxId(void* owner, std::uint32_t id, std::uint32_t style);
const char16_t* GetAppName();
int ShowContextHelp(void* window, std::uint32_t helpId, std::int32_t reserved);

// ---- For hosts and tests ---------------------------------------------------------
struct BrivelEvent {
  const char* op;        // "MessageBoxText", "MessageBoxId" or "ShowContextHelp"
  void* owner;
  std::uint32_t id;      // resource id or help topic; 0 for MessageBoxText
  const char16_t* text;  // the text shown (the resolved string for MessageBoxId)
  std::uint32_t style;
};
// A presenter replaces the real box (and on POSIX is the only way a box is seen).
// Returns the button to report. Null restores the default: a real box on Windows,
// a line on stderr elsewhere.
using BrivelPresenterFn = int (*)(void* context, const BrivelEvent* event);
void BrivelSetPresenter(BrivelPresenterFn fn, void* context);
