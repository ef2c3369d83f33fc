/* Edge storage in the live mode (--edge-storage): the host switches "EdgeStorageState" on
 * before it starts its streams and tells replayed frames (allocated for the driver's edge
 * channel) from live ones: replayed frames are printed one a line and written to a file of
 * their own, live frames are printed with their capture times so a gap can be measured. */
#ifndef LUMIVAR_HOST_EDGE_STORAGE_H
#define LUMIVAR_HOST_EDGE_STORAGE_H

#include <stdbool.h>
#include <stdint.h>

#include "driver_abi.h"
#include "host_objects.h"

/* Owner names of frames allocated for replayed recordings end with this. */
#define HOST_EDGE_OWNER_SUFFIX "::EdgeChannel"

/* Switches the property on; `replayFile` (may be null) receives the replayed payloads. */
bool EdgeStorageStart(VideoCapture* video, const char* replayFile);
/* Called for every frame the host's stream callback takes. True when the frame was a replayed
 * one and has been handled here (it is not live video). */
bool EdgeStorageTakeFrame(uint32_t channel, const Frame* frame);
/* Prints the summary line and closes the file. */
void EdgeStorageFinish(void);

#endif
