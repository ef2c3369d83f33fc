// Timestamps for measuring how long a frame waits inside the driver: taken when the datagram (or
// interleaved chunk) that completes a frame is read, and carried to the thread that calls the
// host's frame callback. The benchmark reads them through a debug export inside that callback;
// nothing in the driver acts on them, so they cost one counter read per read call.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

// The performance counter (QueryPerformanceCounter ticks).
uint64_t PerformanceTicks();

// Set by the packet thread just before it calls the host's frame callback, cleared after; read
// from inside the callback on the same thread. 0 = unknown.
void SetHandOverArrival(uint64_t ticks);
uint64_t GetHandOverArrival();

// Winsock calls of the UDP receive threads, summed over the process, so the benchmark can show
// how far a burst's cost is above the floor of one read per datagram (under Wine each call is a
// round trip to its server). Relaxed counters: a few increments per datagram.
enum class UdpCall : uint32_t {
  kWait,        // the wait for the socket's event (or the stop)
  kEventQuery,  // the reset of the socket's event after a wake
  kRead,        // every receive call
  kDatagram,    // receive calls that brought a datagram
  kEmptyRead,   // receive calls that found the socket empty (the end of a burst)
  kCount
};
extern std::atomic<uint64_t> g_udpCalls[static_cast<uint32_t>(UdpCall::kCount)];
inline void CountUdpCall(UdpCall call) {
  g_udpCalls[static_cast<uint32_t>(call)].fetch_add(1, std::memory_order_relaxed);
}
inline uint64_t GetUdpCallCount(UdpCall call) {
  return g_udpCalls[static_cast<uint32_t>(call)].load(std::memory_order_relaxed);
}

}  // namespace vantrel
