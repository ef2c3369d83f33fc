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
  uint32_t stream;        /* 0 recording (StartChannel), 1 live, 2 remote (StartStream) */
  uint32_t width, height; /* this stream's own size; 0 = the run's --size */
} StreamRequest;

typedef struct ZoneRequest {
  float x, y, width, height;
} ZoneRequest;

/* Options of the live, cycles and multi modes. */
typedef struct LiveOptions {
  uint32_t format; /* 1 Motion JPEG, 3 H.264 */
  uint32_t width, height, fps, quality;
  uint32_t frameCode; /* when not 0: the settings' frame-rate code as given (ms between frames) */
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
  /* live and audio-in modes: when not 0, --seconds count from the first frame (of every stream),
   * waited for at most this long, so a slow start on a loaded machine does not eat the run */
  uint32_t firstFrameWaitSeconds;
  bool audio;               /* cycles mode: cycle the audio input channel instead of video */
  bool edgeStorage;         /* live mode: edge storage on, replayed frames apart */
  const char* replayFile;   /* live mode with edge storage: replayed payloads */
  uint32_t blockCallbackMs; /* io and motion modes: every callback takes this long */
  bool stopInCallback;      /* io and motion modes: the first callback stops from inside */
} LiveOptions;

/* Options of the audio-out mode (audio_out.c). */
typedef struct AudioOutOptions {
  const char* file;    /* WAV file whose data chunk is sent */
  uint32_t frameBytes; /* bytes per host frame (1000) */
  uint32_t frameMs;    /* pause between frames (130) */
  uint32_t bitRate;    /* bit rate the frames claim (64000) */
  const char* formats; /* the host's offered format tags, comma-separated ("711M") */
  uint32_t seconds;    /* send the file again and again this long; 0: once */
  bool cycles;         /* cycles mode: open and close an audio output channel instead */
  bool noWait;         /* send from right after the open, without waiting for "running" */
} AudioOutOptions;

typedef struct HostOptions {
  const char* dllPath;
  HostDevice device;
  int factory; /* -1: all */
  bool requireOpen;
  const char* mode;
  LiveOptions live;
  AudioOutOptions audio;
} HostOptions;

typedef struct Session {
  const HostOptions* options;
  HMODULE library;
  int version; /* factory version 0..5 */
  Driver* driver;
  DebugSink* sink;
  FrameAllocator* allocator;
} Session;

/* Lines appended to a command file while the host runs. */
typedef struct CommandReader {
  const char* path;
  long offset;
  char pending[512];
  size_t pendingLength;
} CommandReader;
bool NextCommand(CommandReader* reader, char* line, size_t size);
/* Thread, handle and memory figures of the process, for leak checks of the cycles modes. */
typedef struct ProcessFigures {
  DWORD handles;
  DWORD threads;
  SIZE_T privateBytes;
} ProcessFigures;
void ReadProcessFigures(ProcessFigures* p);
void PrintProcessFigures(const char* label, unsigned done, const ProcessFigures* p);
/* Threads end a little after their owners return; waits a bounded moment for them. */
void SettleThreads(const ProcessFigures* baseline, ProcessFigures* now);
void ReportCycle(unsigned cycles, unsigned cycle, unsigned warmup, const ProcessFigures* baseline,
                 ProcessFigures* middle, ProcessFigures* now);

bool ModeLive(Session* session);
bool ModeAudioOut(Session* session);
bool AudioCycles(Session* session);
/* Options of the audio-out mode; as ParseLiveOption in host.c. */
bool ParseAudioOption(const char* arg, const char* value, AudioOutOptions* audio, bool* takesValue,
                      bool* bad);
bool ModeCycles(Session* session);
bool ModeMulti(Session* session);
bool ModePTZ(Session* session);
bool ModeIO(Session* session);
bool ModeMotion(Session* session);

#endif
