#include "frame_latency.h"

#include <stdint.h>
#include <stdio.h>

#include "host_objects.h"

/* 10 us buckets up to 100 ms; beyond that one overflow bucket (the maximum is kept apart). */
#define BUCKET_US 10
#define BUCKETS 10000

typedef uint64_t (*ArrivalTicksFn)(void);
typedef uint32_t (*UdpCallsFn)(uint64_t* out, uint32_t count);

/* The driver's UDP receive calls: waits, event queries, reads, datagrams, empty reads. */
#define UDP_CALL_KINDS 5
static UdpCallsFn udpCalls;
static uint64_t udpCallsAtStart[UDP_CALL_KINDS];

static ArrivalTicksFn arrivalTicks;
static double ticksPerUs;
static volatile LONG counts[BUCKETS + 1];
static volatile LONG unknown; /* frames the driver gave no arrival time for */
static volatile LONG64 maxUs;

bool FrameLatencyStart(HMODULE library) {
  LARGE_INTEGER frequency;
  if (!library || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return false;
  ticksPerUs = (double)frequency.QuadPart / 1e6;
  FrameLatencyReset();
  arrivalTicks = (ArrivalTicksFn)(void (*)(void))GetProcAddress(library, "LumivarDebugFrameArrivalTicks");
  udpCalls = (UdpCallsFn)(void (*)(void))GetProcAddress(library, "LumivarDebugUdpCalls");
  if (udpCalls) udpCalls(udpCallsAtStart, UDP_CALL_KINDS);
  return arrivalTicks != NULL;
}

void FrameLatencyReset(void) {
  for (int i = 0; i <= BUCKETS; ++i) InterlockedExchange(&counts[i], 0);
  InterlockedExchange(&unknown, 0);
  InterlockedExchange64(&maxUs, 0);
}

void FrameLatencyRecord(void) {
  if (!arrivalTicks) return;
  uint64_t arrival = arrivalTicks();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (arrival == 0 || (uint64_t)now.QuadPart < arrival) {
    InterlockedIncrement(&unknown);
    return;
  }
  LONG64 us = (LONG64)((double)((uint64_t)now.QuadPart - arrival) / ticksPerUs);
  LONG64 bucket = us / BUCKET_US;
  InterlockedIncrement(&counts[bucket < BUCKETS ? bucket : BUCKETS]);
  for (LONG64 seen = maxUs; us > seen; seen = maxUs)
    if (InterlockedCompareExchange64(&maxUs, us, seen) == seen) break;
}

/* Upper edge of the bucket holding the given fraction of the frames, in microseconds. */
static double Percentile(uint64_t total, double fraction) {
  uint64_t want = (uint64_t)((double)total * fraction + 0.999999);
  if (want == 0) want = 1;
  uint64_t seen = 0;
  for (int i = 0; i < BUCKETS; ++i) {
    seen += (uint64_t)counts[i];
    if (seen >= want) return (double)(i + 1) * BUCKET_US;
  }
  return (double)maxUs;
}

void FrameLatencyPrint(void) {
  if (!arrivalTicks) {
    HostPrint("LATENCY unavailable (the library has no LumivarDebugFrameArrivalTicks)");
    return;
  }
  uint64_t total = 0;
  for (int i = 0; i <= BUCKETS; ++i) total += (uint64_t)counts[i];
  HostPrint("LATENCY frames=%llu unknown=%ld p50_ms=%.3f p90_ms=%.3f p99_ms=%.3f p999_ms=%.3f max_ms=%.3f",
            (unsigned long long)total, (long)unknown, Percentile(total, 0.5) / 1000.0,
            Percentile(total, 0.9) / 1000.0, Percentile(total, 0.99) / 1000.0,
            Percentile(total, 0.999) / 1000.0, (double)maxUs / 1000.0);
  /* Frames whose hand-over took less than each limit (ms) and the rest. */
  static const double limitsMs[] = {0.1, 0.25, 0.5, 1, 2, 5, 10, 20, 50, 100};
  char line[512];
  int used = 0;
  uint64_t seen = 0;
  int bucket = 0;
  for (size_t l = 0; l < sizeof(limitsMs) / sizeof(limitsMs[0]); ++l) {
    int end = (int)(limitsMs[l] * 1000.0 / BUCKET_US);
    for (; bucket < end && bucket < BUCKETS; ++bucket) seen += (uint64_t)counts[bucket];
    used += snprintf(line + used, sizeof(line) - (size_t)used, " <%gms=%llu", limitsMs[l],
                     (unsigned long long)seen);
  }
  snprintf(line + used, sizeof(line) - (size_t)used, " >=100ms=%llu", (unsigned long long)(total - seen));
  HostPrint("LATENCY_HISTOGRAM cumulative%s", line);

  /* Winsock calls per datagram over the same window; the floor is one read per datagram. */
  uint64_t now[UDP_CALL_KINDS] = {0};
  if (!udpCalls || udpCalls(now, UDP_CALL_KINDS) != UDP_CALL_KINDS) return;
  uint64_t d[UDP_CALL_KINDS];
  for (int i = 0; i < UDP_CALL_KINDS; ++i) d[i] = now[i] - udpCallsAtStart[i];
  double datagrams = d[3] ? (double)d[3] : 1.0;
  HostPrint(
      "UDP_CALLS datagrams=%llu waits=%llu event_queries=%llu reads=%llu empty_reads=%llu "
      "calls_per_datagram=%.3f datagrams_per_wake=%.2f",
      (unsigned long long)d[3], (unsigned long long)d[0], (unsigned long long)d[1], (unsigned long long)d[2],
      (unsigned long long)d[4], (double)(d[0] + d[1] + d[2]) / datagrams,
      d[1] ? (double)d[3] / (double)d[1] : 0.0);
}
