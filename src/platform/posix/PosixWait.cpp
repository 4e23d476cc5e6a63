// Waiting on an event while pumping messages: a POSIX thread has no window message queue,
// so there is nothing to dispatch and the wait is a plain one.
#include "platform/Platform.h"

namespace es::platform {

bool WaitPumping(Event& event, int timeoutMs) { return event.Wait(timeoutMs); }

}  // namespace es::platform
