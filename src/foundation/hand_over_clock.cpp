#include "foundation/hand_over_clock.h"

#include <windows.h>

namespace vantrel {

namespace {
// Per thread, because every channel's packet thread calls the host on its own.
thread_local uint64_t handOverArrival = 0;
}  // namespace

std::atomic<uint64_t> g_udpCalls[static_cast<uint32_t>(UdpCall::kCount)] = {};

uint64_t PerformanceTicks() {
  LARGE_INTEGER counter;
  if (!QueryPerformanceCounter(&counter)) return 0;
  return static_cast<uint64_t>(counter.QuadPart);
}

void SetHandOverArrival(uint64_t ticks) { handOverArrival = ticks; }

uint64_t GetHandOverArrival() { return handOverArrival; }

}  // namespace vantrel
