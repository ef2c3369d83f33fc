/* Frame hand-over latency for the multi mode: inside the frame callback the host asks the driver
 * (through its debug export) when it read the datagram that completed the frame, and keeps a
 * histogram of the difference to now. Off (one test per frame) until FrameLatencyStart. */
#ifndef LUMIVAR_HOST_FRAME_LATENCY_H
#define LUMIVAR_HOST_FRAME_LATENCY_H

#include <stdbool.h>
#include <windows.h>

/* False when the library has no such export (then nothing is recorded). */
bool FrameLatencyStart(HMODULE library);
/* Forgets what was recorded so far (the warm-up). */
void FrameLatencyReset(void);
/* Called in every stream sink's frame callback, on the driver's thread. */
void FrameLatencyRecord(void);
/* One "LATENCY" line with percentiles and one "LATENCY_HISTOGRAM" line of bucket counts. */
void FrameLatencyPrint(void);

#endif
