/* What the host's modes share: the command line and the opened driver they work with. */
#ifndef LUMIVAR_HOST_HOST_SESSION_H
#define LUMIVAR_HOST_HOST_SESSION_H

#include <stdbool.h>
#include <stdint.h>
#include <windows.h>

#include "driver_abi.h"
#include "host_objects.h"

#define HOST_MAX_STREAMS 16
#define HOST_MAX_CAMERAS 32

typedef struct StreamRequest {
  uint32_t channel;
  uint32_t stream; /* 0 recording (StartChannel), 1 live, 2 remote (StartStream) */
} StreamRequest;

typedef struct ZoneRequest {
  float x, y, width, height;
} ZoneRequest;

/* Options of the live, cycles and multi modes. */
typedef struct LiveOptions {
  uint32_t format; /* 1 Motion JPEG, 3 H.264 */
  uint32_t width, height, fps, quality;
  StreamRequest streams[HOST_MAX_STREAMS];
  int streamCount;
  ZoneRequest zones[4];
  int zoneCount;
  uint32_t seconds;
  const char* output;      /* capture file; with several streams a suffix per stream is added */
  const char* commandFile; /* lines appended to it are run as commands */
  bool allowNoFrames;      /* a run without frames is not a failure (stop tests) */
  uint32_t cycles;         /* cycles mode */
  uint32_t cycleWaitMs;    /* per cycle, the longest wait for a first frame; 0 = stop at once */
  uint32_t drivers;        /* multi mode: streams, one driver each */
  const char* cameras[HOST_MAX_CAMERAS];
  int cameraCount;
  uint32_t warmupSeconds; /* multi mode: the longest wait until every stream receives */
  bool edgeStorage;       /* live mode: edge storage on, replayed frames apart */
  const char* replayFile; /* live mode with edge storage: replayed payloads */
} LiveOptions;

typedef struct HostOptions {
  const char* dllPath;
  HostDevice device;
  int factory; /* -1: all */
  bool requireOpen;
  const char* mode;
  LiveOptions live;
} HostOptions;

typedef struct Session {
  const HostOptions* options;
  HMODULE library;
  int version; /* factory version 0..5 */
  Driver* driver;
  DebugSink* sink;
  FrameAllocator* allocator;
} Session;

bool ModeLive(Session* session);
bool ModeCycles(Session* session);
bool ModeMulti(Session* session);

#endif
