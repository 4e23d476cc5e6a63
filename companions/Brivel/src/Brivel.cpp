// Message boxes of the import, the application name and context help.
#include "Brivel.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "Lunmere.h"
#include "LunmereUtf8.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int kStringCapacity = 4096;
constexpr int kIdOk = 1;

struct Presenter {
  std::mutex mutex;
  BrivelPresenterFn fn = nullptr;
  void* context = nullptr;
};

Presenter& GlobalPresenter() {
  static Presenter* presenter = new Presenter;  // outlives every static destructor
  return *presenter;
}

// The presenter is called outside the lock: a box is modal and may take its time.
bool Present(const BrivelEvent& event, int* result) {
  Presenter& presenter = GlobalPresenter();
  BrivelPresenterFn fn = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> lock(presenter.mutex);
    fn = presenter.fn;
    context = presenter.context;
  }
  if (fn == nullptr) return false;
  *result = fn(context, &event);
  return true;
}

#ifndef _WIN32
void WriteLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}
#endif

int ShowBox(const BrivelEvent& event) {
  int result = 0;
  if (Present(event, &result)) return result;
#ifdef _WIN32
  return MessageBoxW(static_cast<HWND>(event.owner), reinterpret_cast<const wchar_t*>(event.text),
                     reinterpret_cast<const wchar_t*>(GetAppName()), event.style);
#else
  WriteLine("message box: " + lunmere::EscapeForLine(event.text != nullptr ? event.text : u""));
  return kIdOk;
#endif
}

}  // namespace

int MessageBoxText(void* owner, const char16_t* text, std::uint32_t style) {
  const BrivelEvent event{"MessageBoxText", owner, 0, text != nullptr ? text : u"", style};
  return ShowBox(event);
}

// Must stay a real call: the return address names the module whose strings are meant.
__attribute__((noinline)) int MessageBoxId(void* owner, std::uint32_t id, std::uint32_t style) {
  void* caller = LunmereModuleFromAddress(__builtin_return_address(0));
  char16_t buffer[kStringCapacity];
  int length = 0;
  if (caller != nullptr) {
    length = LunmereLoadString(CLang::GetResourceHandle(caller), id, buffer, kStringCapacity);
  }
  const std::u16string text =
      length > 0 ? std::u16string(buffer, static_cast<std::size_t>(length))
                 : lunmere::Utf8ToUtf16("[string " + std::to_string(id) + "]");
  const BrivelEvent event{"MessageBoxId", owner, id, text.c_str(), style};
  return ShowBox(event);
}

const char16_t* GetAppName() {
  static const char16_t kName[] = u"External Storage Input";
  return kName;
}

int ShowContextHelp(void* window, std::uint32_t helpId, std::int32_t reserved) {
  // There is no help file yet: the topic is named so that the user can look it up.
  const std::u16string text = lunmere::Utf8ToUtf16("Help topic " + std::to_string(helpId));
  const BrivelEvent event{"ShowContextHelp", window, helpId, text.c_str(), 0};
  int result = 0;
  if (Present(event, &result)) return result;
#ifdef _WIN32
  return MessageBoxW(static_cast<HWND>(window), reinterpret_cast<const wchar_t*>(text.c_str()),
                     reinterpret_cast<const wchar_t*>(GetAppName()), MB_OK | MB_ICONINFORMATION);
#else
  WriteLine("context help: " + lunmere::EscapeForLine(text));
  return kIdOk;
#endif
}

void BrivelSetPresenter(BrivelPresenterFn fn, void* context) {
  Presenter& presenter = GlobalPresenter();
  std::lock_guard<std::mutex> lock(presenter.mutex);
  presenter.fn = fn;
  presenter.context = context;
}
