/* The host's event modes: "io" (alarm inputs as they change, relays switched from the command
 * file) and "motion" (a recording stream started with the motion switch set; motion frames and
 * motion-data-stopped printed as they arrive). The driver's objects are reached through vtables
 * written from the slot tables, like everywhere in the host. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "driver_abi.h"
#include "host_objects.h"
#include "host_session.h"
#include "video_objects.h"

#define TICK_MS 20

/* ICaptureIOApi. */
typedef struct IOApiVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);     /* 0 */
  bool (*SetCallback)(void* self, void* callback);                       /* 1 */
  bool (*StartIO)(void* self);                                           /* 2 */
  bool (*StopIO)(void* self);                                            /* 3 */
  uint32_t (*GetNumberOfInputs)(void* self);                             /* 4 */
  uint32_t (*GetNumberOfOutputs)(void* self);                            /* 5 */
  bool (*SetOutputState)(void* self, uint32_t output, uint32_t state);   /* 6 */
  bool (*ApplyOutputState)(void* self, uint32_t output, uint32_t state); /* 7 */
} IOApiVtbl;

typedef struct IOApi {
  const IOApiVtbl* vtbl;
} IOApi;

/* The host's I/O callback (ICaptureIOCallback). Called on the driver's input and output threads.
 * A callback that starts after StopIO returned is counted as late; with the host-safety options a
 * callback blocks for a while, or the first one stops the I/O from inside itself. */
typedef struct IOSink {
  const void* vtbl;
  ULONGLONG begin;
  volatile long changes;
  volatile long failures;
  volatile long stopReturned;
  volatile long late;
  volatile long stoppedInside;
  IOApi* io;
  uint32_t blockMs;
  bool stopInCallback;
} IOSink;

static void IOSinkCallbackDone(IOSink* sink) {
  if (sink->stopInCallback && InterlockedCompareExchange(&sink->stoppedInside, 1, 0) == 0) {
    ULONGLONG begin = GetTickCount64();
    bool stopped = sink->io->vtbl->StopIO(sink->io);
    HostPrint("IO_STOP_IN_CALLBACK result=%s ms=%lu", stopped ? "true" : "false",
              (unsigned long)(GetTickCount64() - begin));
  }
  if (sink->blockMs) Sleep(sink->blockMs);
}

static void IOSinkInputChanged(void* self, uint32_t input, uint32_t state) {
  IOSink* sink = (IOSink*)self;
  if (sink->stopReturned) InterlockedIncrement(&sink->late);
  InterlockedIncrement(&sink->changes);
  HostPrint("INPUT input=%u state=%u ms=%lu", input, state, (unsigned long)(GetTickCount64() - sink->begin));
  IOSinkCallbackDone(sink);
}

static void IOSinkFailed(void* self) {
  IOSink* sink = (IOSink*)self;
  if (sink->stopReturned) InterlockedIncrement(&sink->late);
  long count = InterlockedIncrement(&sink->failures);
  HostPrint("IO_FAILED count=%ld", count);
  IOSinkCallbackDone(sink);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*inputChanged)(void*, uint32_t, uint32_t);
  void (*failed)(void*);
} ioSinkVtbl = {HostNotDeleted, IOSinkInputChanged, IOSinkFailed};

/* Runs one io command; false for "quit". */
static bool RunIOCommand(IOApi* io, const char* line) {
  unsigned output = 0, state = 0;
  char word[32] = "";
  if (sscanf(line, "%31s", word) != 1) return true;
  if (strcmp(word, "quit") == 0) {
    HostPrint("CMD quit");
    return false;
  }
  if (strcmp(word, "mark") == 0) {
    HostPrint("CMD %s", line);
  } else if (strcmp(word, "set") == 0 && sscanf(line, "%*s %u %u", &output, &state) == 2) {
    bool ok = io->vtbl->SetOutputState(io, output, state);
    HostPrint("CMD set output=%u state=%u result=%s", output, state, ok ? "true" : "false");
  } else if (strcmp(word, "apply") == 0 && sscanf(line, "%*s %u %u", &output, &state) == 2) {
    bool ok = io->vtbl->ApplyOutputState(io, output, state);
    HostPrint("CMD apply output=%u state=%u result=%s", output, state, ok ? "true" : "false");
  } else {
    HostPrint("host: ERROR: unknown command \"%s\"", line);
  }
  return true;
}

bool ModeIO(Session* session) {
  const LiveOptions* live = &session->options->live;
  IOApi* io = (IOApi*)session->driver->vtbl->GetIOApi(session->driver);
  if (!io) {
    HostPrint("host: ERROR: the driver has no I/O object");
    return false;
  }
  IOSink sink = {&ioSinkVtbl,           GetTickCount64(),    0, 0, 0, 0, 0, io,
                 live->blockCallbackMs, live->stopInCallback};
  if (io->vtbl->SetCallback(io, NULL)) {
    HostPrint("host: ERROR: SetCallback accepted null");
    return false;
  }
  if (!io->vtbl->SetCallback(io, &sink)) {
    HostPrint("host: ERROR: SetCallback refused the host's callback");
    return false;
  }
  HostPrint("IO inputs=%u outputs=%u", io->vtbl->GetNumberOfInputs(io), io->vtbl->GetNumberOfOutputs(io));
  bool ok = io->vtbl->StartIO(io);
  HostPrint("IO_START result=%s", ok ? "true" : "false");

  CommandReader reader = {live->commandFile, 0, "", 0};
  ULONGLONG end = GetTickCount64() + (ULONGLONG)live->seconds * 1000;
  bool running = ok;
  while (running && GetTickCount64() < end) {
    Sleep(TICK_MS);
    char line[512];
    while (running && NextCommand(&reader, line, sizeof(line))) running = RunIOCommand(io, line);
  }

  ULONGLONG stopBegin = GetTickCount64();
  bool stopped = io->vtbl->StopIO(io);
  InterlockedExchange(&sink.stopReturned, 1);
  HostPrint("IO_STOP result=%s ms=%lu", stopped ? "true" : "false",
            (unsigned long)(GetTickCount64() - stopBegin));
  if (live->blockCallbackMs || live->stopInCallback) {
    /* A callback that starts now would reach a sink the host considers gone. */
    Sleep(2500);
    HostPrint("IO_LATE late=%ld", sink.late);
  }
  HostPrint("IO_SUMMARY changes=%ld failures=%ld", sink.changes, sink.failures);
  return ok && stopped;
}

/* ---- motion ---- */

/* The host's video callback of a stream started with the motion switch: video frames are only
 * counted, motion frames checked and printed. */
typedef struct MotionSink {
  const void* vtbl;
  uint32_t channel;
  ULONGLONG begin;
  volatile long videoFrames;
  volatile long motionFrames;
  volatile long badMotionFrames;
  volatile long stopped;
  volatile long stopReturned;
  volatile long late;
  volatile long stoppedInside;
  VideoCapture* video;
  uint32_t blockMs;
  bool stopInCallback;
} MotionSink;

static bool MotionSinkOnFrame(void* self, void* object) {
  MotionSink* sink = (MotionSink*)self;
  if (!HostIsFrame(object)) {
    HostPrint("host: ERROR: channel %u: OnFrame with an object that is not a host frame", sink->channel);
    return false;
  }
  const Frame* frame = (const Frame*)object;
  char fourcc[5];
  FourCCText(frame->fourcc, fourcc);
  if (strcmp(fourcc, "MEMD") != 0) {
    InterlockedIncrement(&sink->videoFrames);
    return true;
  }
  if (frame->size != 2 || frame->size > frame->capacity || frame->data[0] != 1 || frame->data[1] > 1 ||
      frame->width != 320 || frame->height != 240 || frame->sizeClass != 2) {
    InterlockedIncrement(&sink->badMotionFrames);
    HostPrint("host: ERROR: channel %u: bad motion frame: %u bytes, %ux%u, class %u", sink->channel,
              frame->size, frame->width, frame->height, frame->sizeClass);
    return false;
  }
  if (sink->stopReturned) InterlockedIncrement(&sink->late);
  InterlockedIncrement(&sink->motionFrames);
  HostPrint("MOTION channel=%u state=%u ms=%lu", sink->channel, frame->data[1],
            (unsigned long)(GetTickCount64() - sink->begin));
  if (sink->stopInCallback && InterlockedCompareExchange(&sink->stoppedInside, 1, 0) == 0) {
    ULONGLONG begin = GetTickCount64();
    bool stopped = sink->video->vtbl->StopChannel(sink->video, sink->channel);
    HostPrint("STOP_IN_CALLBACK channel=%u result=%s ms=%lu", sink->channel, stopped ? "true" : "false",
              (unsigned long)(GetTickCount64() - begin));
  }
  if (sink->blockMs) Sleep(sink->blockMs);
  return true;
}

static void MotionSinkStopped(void* self, uint32_t reason) {
  MotionSink* sink = (MotionSink*)self;
  long count = InterlockedIncrement(&sink->stopped);
  HostPrint("MOTION_STOPPED channel=%u reason=%u count=%ld", sink->channel, reason, count);
}

static void MotionSinkSignalLost(void* self) {
  MotionSink* sink = (MotionSink*)self;
  HostPrint("SIGNAL_LOST channel=%u stream=0", sink->channel);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*onFrame)(void*, void*);
  void (*motionStopped)(void*, uint32_t);
  void (*onSignalLost)(void*);
} motionSinkVtbl = {HostNotDeleted, MotionSinkOnFrame, MotionSinkStopped, MotionSinkSignalLost};

bool ModeMotion(Session* session) {
  const LiveOptions* live = &session->options->live;
  VideoCapture* video = (VideoCapture*)session->driver->vtbl->GetVideoCapture(session->driver);
  if (!video) {
    HostPrint("host: ERROR: the driver has no video capture object");
    return false;
  }
  const uint32_t channel = live->streams[0].channel;
  HostVideoSettings settings;
  VideoSettingsInit(&settings, live->format, live->width, live->height, live->fps, live->quality);
  settings.rate.motion = 1;
  MotionSink sink = {
      &motionSinkVtbl,     channel, GetTickCount64(), 0, 0, 0, 0, 0, 0, 0, video, live->blockCallbackMs,
      live->stopInCallback};
  bool started = video->vtbl->StartChannel(video, channel, &sink, &settings);
  HostPrint("START channel=%u motion=1 result=%s", channel, started ? "true" : "false");

  CommandReader reader = {live->commandFile, 0, "", 0};
  ULONGLONG end = GetTickCount64() + (ULONGLONG)live->seconds * 1000;
  bool running = true;
  while (running && GetTickCount64() < end) {
    Sleep(TICK_MS);
    char line[512];
    while (running && NextCommand(&reader, line, sizeof(line))) {
      if (strncmp(line, "quit", 4) == 0) {
        HostPrint("CMD quit");
        running = false;
      } else if (strncmp(line, "mark", 4) == 0) {
        HostPrint("CMD %s", line);
      } else {
        HostPrint("host: ERROR: unknown command \"%s\"", line);
      }
    }
  }
  ULONGLONG stopBegin = GetTickCount64();
  bool stopped = video->vtbl->StopChannel(video, channel);
  InterlockedExchange(&sink.stopReturned, 1);
  HostPrint("STOP channel=%u ms=%lu result=%s", channel, (unsigned long)(GetTickCount64() - stopBegin),
            stopped ? "true" : "false");
  if (live->blockCallbackMs || live->stopInCallback) {
    Sleep(2500);
    HostPrint("MOTION_LATE channel=%u late=%ld", channel, sink.late);
  }
  HostPrint("MOTION_SUMMARY channel=%u motion_frames=%ld video_frames=%ld bad=%ld stopped=%ld", channel,
            sink.motionFrames, sink.videoFrames, sink.badMotionFrames, sink.stopped);
  if (sink.motionFrames == 0 && !live->allowNoFrames) {
    HostPrint("host: ERROR: channel %u delivered no motion frame", channel);
    return false;
  }
  return sink.badMotionFrames == 0;
}
