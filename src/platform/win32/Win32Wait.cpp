// Waiting on an event while the calling thread's messages are dispatched: a thread that
// owns windows (or that COM or the shell attached hidden windows to) must keep answering
// them while it waits.
#include <windows.h>

#include "platform/Platform.h"

namespace es::platform {

namespace {

// Every kind of input, pointer and touch input included (QS_ALLINPUT of Windows 8 and
// later; this build targets Windows 7 headers, whose QS_ALLINPUT lacks those bits).
constexpr DWORD kAllInput = 0x1CFF;

}  // namespace

bool WaitPumping(Event& event, int timeoutMs) {
  HANDLE handle = static_cast<HANDLE>(event.NativeHandle());
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, timeout, kAllInput);
    // The event, the time-out or a failed wait end it; only input waiting goes on.
    if (woken != WAIT_OBJECT_0 + 1) return woken == WAIT_OBJECT_0;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

}  // namespace es::platform
