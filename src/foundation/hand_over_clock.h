// Timestamps for measuring how long a frame waits inside the driver: taken when the datagram (or
// interleaved chunk) that completes a frame is read, and carried to the thread that calls the
// host's frame callback. The benchmark reads them through a debug export inside that callback;
// nothing in the driver acts on them, so they cost one counter read per read call.
#pragma once

#include <cstdint>

namespace vantrel {

// The performance counter (QueryPerformanceCounter ticks).
uint64_t PerformanceTicks();

// Set by the packet thread just before it calls the host's frame callback, cleared after; read
// from inside the callback on the same thread. 0 = unknown.
void SetHandOverArrival(uint64_t ticks);
uint64_t GetHandOverArrival();

}  // namespace vantrel
