// A pause that keeps the window alive: on the main thread it runs the thread's messages and
// the main queue while it waits, elsewhere it simply sleeps.
#pragma once

#include <cstdint>

namespace Sys {

// Waits ms milliseconds. On the main thread, messages are dispatched and queued procedures
// run meanwhile; a quit message ends the wait early and is posted again for the loop that
// called this. Returns false when the wait ended early for a quit message.
bool PumpingWait(uint32_t ms);

}  // namespace Sys
