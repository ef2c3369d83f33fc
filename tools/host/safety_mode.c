/* The host-safety mode: one case of the matrix (a subsystem and a hostile condition) against one
 * camera, measured the way a recorder suffers it.
 *
 *   lumivar_host [device options] safety --subsystem S --condition C [--commands FILE]
 *                [--block-ms MS] [--hold-ms MS] [--wait-ms MS] [--grace-ms MS] [--hang-ms MS]
 *                [--case-ms MS]
 *
 *   subsystems: live (H.264 over RTSP), mjpeg (Motion JPEG over HTTP; give -p 5=0), mpeg4 (the
 *               RCP+ streamer), audio-in, audio-out, motion, io, ptz, edge (a replayed recording),
 *               query (the capability query), close (driver Close and Delete with video, audio,
 *               I/O and PTZ running)
 *   conditions: silent  the camera stops answering before the subsystem starts: the host prints
 *                       "SAFETY_READY" and waits for "go" in the command file (the test silences
 *                       the camera in between), starts, waits --hold-ms, stops
 *               vanish  started and delivering; the host prints "SAFETY_RUNNING" and waits for
 *                       "go" (the camera vanishes meanwhile), waits --hold-ms, stops
 *               block   every host callback blocks --block-ms; the stop is called while one does
 *               inside  the stop is called from inside the host's callback
 *
 * The stop is StopChannel, CloseChannel, StopIO, Terminate plus Uninit of the query, the PTZ
 * Stop plus the driver's Close (ptz), or Close plus Delete (close). A callback that starts after the stop
 * returned is late. In close/inside the stop inside the callback is the video channel's: until the
 * driver's Close that follows has returned, only a video callback is late then (audio and I/O run
 * on, and their own stops, made by that Close, report to the host before it returns). Threads and handles are
 * read after Open (after LoadLibrary for the query) and again after Delete. A stop or Close that outlasts
 * --hang-ms (60 s), or a case that outlasts --case-ms (120 s), ends the process with result=hang. The last
 * line:
 *
 *   SAFETY subsystem=S condition=C stop_ms=N close_ms=N late=N callbacks=N exercised=0|1
 *          threads_before=N threads_after=N handles_before=N handles_after=N frames_leaked=N
 *          result=ok|start-failed|open-failed|hang
 */
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
/* after windows.h */
#include <tlhelp32.h>

#include "audio_objects.h"
#include "driver_abi.h"
#include "host_objects.h"
#include "host_session.h"
#include "video_objects.h"

/* ---- the driver's objects this mode reaches (slot tables as in the other modes) ---- */

typedef struct IOApiVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);
  bool (*SetCallback)(void* self, void* callback);
  bool (*StartIO)(void* self);
  bool (*StopIO)(void* self);
} IOApiVtbl;
typedef struct IOApi {
  const IOApiVtbl* vtbl;
} IOApi;

typedef struct PTZApiVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);
  int32_t (*IsPTZConfigured)(void* self);
  int32_t (*StartMove)(void* self, uint32_t direction, uint32_t speed);
  int32_t (*Stop)(void* self);
} PTZApiVtbl;
typedef struct PTZApi {
  const PTZApiVtbl* vtbl;
} PTZApi;
typedef struct PTZDriverVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);
  PTZApi* (*GetPTZApi)(void* self, uint32_t channel);
  PTZApi* (*GetPTZApiEx)(void* self, uint32_t channel);
} PTZDriverVtbl;
typedef struct PTZDriver {
  const PTZDriverVtbl* vtbl;
} PTZDriver;

typedef struct AudioSenderVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);
  uint32_t (*GetChannelCount)(void* self);
  bool (*OpenChannel)(void* self, uint32_t channel, uint32_t parameter, void* callback, void* formats);
  bool (*CloseChannel)(void* self, uint32_t channel);
  bool (*Send)(void* self, void* frame);
} AudioSenderVtbl;
typedef struct AudioSender {
  const AudioSenderVtbl* vtbl;
} AudioSender;

typedef uint32_t (*QueryInitFn)(void* callback, uint8_t flag);
typedef uint32_t (*QueryStartFn)(const char* address, uint16_t port, const char* user, const char* password,
                                 void* result);
typedef uint32_t (*QueryNoArgFn)(void);

/* ---- the case ---- */

typedef enum {
  SUB_LIVE,
  SUB_MJPEG,
  SUB_MPEG4,
  SUB_AUDIO_IN,
  SUB_AUDIO_OUT,
  SUB_MOTION,
  SUB_IO,
  SUB_PTZ,
  SUB_EDGE,
  SUB_QUERY,
  SUB_CLOSE,
  SUB_COUNT
} Subsystem;
static const char* const subsystemNames[SUB_COUNT] = {
    "live", "mjpeg", "mpeg4", "audio-in", "audio-out", "motion", "io", "ptz", "edge", "query", "close"};
typedef enum { COND_SILENT, COND_VANISH, COND_BLOCK, COND_INSIDE, COND_COUNT } Condition;
static const char* const conditionNames[COND_COUNT] = {"silent", "vanish", "block", "inside"};

#define AUDIO_INDEX 7u
#define AUDIO_FRAME_BYTES 1000u

static struct {
  Subsystem sub;
  Condition cond;
  DWORD blockMs, holdMs, waitMs, graceMs, hangMs, caseMs;
  HostDevice device;
  CommandReader reader;
  HMODULE library;
  Driver* driver;
  FrameAllocator allocator;
  bool driverGone;
  VideoCapture* video;
  AudioCapture* audio;
  AudioSender* sender;
  IOApi* io;
  PTZApi* ptz;
  QueryInitFn queryInit;
  QueryStartFn queryStart;
  QueryNoArgFn queryTerminate, queryUninit;
  /* What the callbacks saw. */
  volatile LONG callbacks;
  volatile LONG late;
  volatile LONG stopReturned;
  volatile LONG onlyVideoLate; /* close/inside: the video channel stopped, the driver not yet closed */
  volatile LONG armed;         /* block: callbacks block while set; inside: taken by the first callback */
  volatile LONG innerStopMs;
  volatile LONG innerStopDone;
  volatile LONG insideEntered; /* the stop inside a callback has been called */
  HANDLE firstCallback;        /* manual reset: an eligible callback has started */
  HANDLE blocking;             /* manual reset: a blocking callback has started */
  HANDLE insideDone;           /* manual reset: the stop made inside a callback has returned */
  /* The watchdog. */
  volatile LONGLONG deadline; /* tick count; 0: not watching */
  LONGLONG caseEnd;           /* no case takes longer than this, whatever it waits for */
  const char* volatile phase;
  ProcessFigures before;
  ULONGLONG lastSend;
} g;

static bool StopSubsystem(bool inside);

#define MAX_THREADS 256
static DWORD threadsBefore[MAX_THREADS]; /* ids after Open */
static int threadsBeforeCount;
static int threadsLeaked = -1;

/* Written straight to the standard output, without the print lock of HostPrint: a thread that
 * the driver ended inside the host may have left that lock held, and this line must still come. */
static void RawPrint(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof(text) - 2, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > (int)sizeof(text) - 3) n = (int)sizeof(text) - 3;
  text[n++] = '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)n, &written, NULL);
}

static void PrintResult(LONG stopMs, LONG closeMs, const ProcessFigures* after, const char* result) {
  RawPrint(
      "SAFETY subsystem=%s condition=%s stop_ms=%ld close_ms=%ld late=%ld callbacks=%ld exercised=%d "
      "threads_before=%lu threads_after=%lu threads_leaked=%d handles_before=%lu handles_after=%lu "
      "frames_leaked=%ld "
      "result=%s",
      subsystemNames[g.sub], conditionNames[g.cond], stopMs, closeMs, g.late, g.callbacks,
      g.cond == COND_BLOCK    ? WaitForSingleObject(g.blocking, 0) == WAIT_OBJECT_0
      : g.cond == COND_INSIDE ? g.innerStopDone != 0
                              : 1,
      (unsigned long)g.before.threads, (unsigned long)(after ? after->threads : 0), threadsLeaked,
      (unsigned long)g.before.handles, (unsigned long)(after ? after->handles : 0),
      g.allocator.allocated - g.allocator.released, result);
}

/* A stop or close that never returns is the worst outcome: report it and end the process, since
 * the host cannot take its thread back. */
static DWORD WINAPI Watchdog(void* unused) {
  (void)unused;
  for (;;) {
    Sleep(100);
    LONGLONG deadline = g.deadline, now = (LONGLONG)GetTickCount64();
    if (now > g.caseEnd) g.phase = "the whole case"; /* e.g. a lock of the CRT left held */
    if ((deadline && now > deadline) || now > g.caseEnd) {
      RawPrint("SAFETY_HANG phase=%s", g.phase ? g.phase : "?");
      PrintResult(-1, -1, NULL, "hang");
      TerminateProcess(GetCurrentProcess(), 3);
    }
  }
  return 0;
}

static void Watch(const char* phase) {
  g.phase = phase;
  g.deadline = (LONGLONG)(GetTickCount64() + g.hangMs);
}
static void Unwatch(void) { g.deadline = 0; }

/* ---- callbacks: every host callback starts here ---- */

static void CallbackBeginsIn(bool eligible, bool video, const char* where) {
  InterlockedIncrement(&g.callbacks);
  if (g.stopReturned && (video || !g.onlyVideoLate)) {
    long late = InterlockedIncrement(&g.late);
    if (late <= 5) RawPrint("SAFETY_LATE callback started after the stop returned (%ld) in %s", late, where);
  }
  if (!eligible) return;
  SetEvent(g.firstCallback);
  if (g.cond == COND_BLOCK && g.armed) {
    SetEvent(g.blocking);
    Sleep(g.blockMs);
  } else if (g.cond == COND_INSIDE && InterlockedExchange(&g.armed, 0)) {
    InterlockedExchange(&g.insideEntered, 1);
    ULONGLONG begin = GetTickCount64();
    bool ok = StopSubsystem(true);
    LONG ms = (LONG)(GetTickCount64() - begin);
    InterlockedExchange(&g.innerStopMs, ms);
    if (g.sub == SUB_CLOSE) InterlockedExchange(&g.onlyVideoLate, 1);
    InterlockedExchange(&g.stopReturned, 1);
    InterlockedExchange(&g.innerStopDone, 1);
    RawPrint("SAFETY_INSIDE stop from inside the callback returned %s after %ld ms", ok ? "true" : "false",
             ms);
    SetEvent(g.insideDone);
  }
}

#define CallbackBegins(eligible) CallbackBeginsIn((eligible), false, __func__)
#define VideoCallbackBegins(eligible) CallbackBeginsIn((eligible), true, __func__)

static bool IsMotionFrame(const Frame* frame) {
  return frame->fourcc == (uint32_t)('M' | 'E' << 8 | 'M' << 16 | 'D' << 24);
}

static bool VideoOnFrame(void* self, void* object) {
  (void)self;
  bool eligible = true;
  if (HostIsFrame(object)) {
    const Frame* frame = (const Frame*)object;
    if (g.sub == SUB_EDGE) eligible = frame->replayed;
    if (g.sub == SUB_MOTION) eligible = IsMotionFrame(frame);
  }
  VideoCallbackBegins(eligible);
  return true;
}
static void VideoMotionStopped(void* self, uint32_t reason) {
  (void)self;
  (void)reason;
  VideoCallbackBegins(false);
}
static void VideoSignalLost(void* self) {
  (void)self;
  VideoCallbackBegins(false);
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*onFrame)(void*, void*);
  void (*motionStopped)(void*, uint32_t);
  void (*onSignalLost)(void*);
} videoCallbackVtbl = {HostNotDeleted, VideoOnFrame, VideoMotionStopped, VideoSignalLost};
static const void* videoCallback = &videoCallbackVtbl;

static bool AudioOnFrame(void* self, void* object) {
  (void)self;
  (void)object;
  CallbackBegins(g.sub == SUB_AUDIO_IN);
  return true;
}
/* Audio input status, and audio output status (the same slot order after slot 0). */
static void AudioOnStatus(void* self, uint32_t index, uint32_t status) {
  (void)self;
  (void)index;
  (void)status;
  CallbackBegins(g.sub == SUB_AUDIO_IN || g.sub == SUB_AUDIO_OUT);
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*onFrame)(void*, void*);
  void (*onStatus)(void*, uint32_t, uint32_t);
} audioCallbackVtbl = {HostNotDeleted, AudioOnFrame, AudioOnStatus};
static const void* audioCallback = &audioCallbackVtbl;
static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*onStatus)(void*, uint32_t, uint32_t);
} audioStatusVtbl = {HostNotDeleted, AudioOnStatus};
static const void* audioStatus = &audioStatusVtbl;

static void IOInputChanged(void* self, uint32_t input, uint32_t state) {
  (void)self;
  (void)input;
  (void)state;
  CallbackBegins(g.sub == SUB_IO);
}
static void IOFailed(void* self) {
  (void)self;
  CallbackBegins(g.sub == SUB_IO);
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*inputChanged)(void*, uint32_t, uint32_t);
  void (*failed)(void*);
} ioCallbackVtbl = {HostNotDeleted, IOInputChanged, IOFailed};
static const void* ioCallback = &ioCallbackVtbl;

/* The audio formats the host offers: one entry, G.711 mu-law. */
static bool FormatUsable(void* self) {
  (void)self;
  return true;
}
static uint32_t FormatTag(void* self) {
  (void)self;
  return (uint32_t)('7' | '1' << 8 | '1' << 16 | 'M' << 24);
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*usable)(void*);
  uint32_t (*tag)(void*);
} formatEntryVtbl = {HostNotDeleted, FormatUsable, FormatTag};
static const void* formatEntry = &formatEntryVtbl;
static uint32_t FormatCount(void* self) {
  (void)self;
  return 1;
}
static void* FormatAt(void* self, uint32_t index) {
  (void)self;
  return index == 0 ? (void*)&formatEntry : NULL;
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  uint32_t (*count)(void*);
  void* (*entry)(void*, uint32_t);
} formatListVtbl = {HostNotDeleted, FormatCount, FormatAt};
static const void* formatList = &formatListVtbl;

/* The query's callback and result object: every call into them is a host callback. */
static void QueryEnded(void* self) {
  (void)self;
  CallbackBegins(true);
}
static void QueryFailed(void* self, uint32_t status, const char* message) {
  (void)self;
  RawPrint("SAFETY_QUERY failed status=%u message=%s", status, message ? message : "(null)");
  CallbackBegins(true);
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*completed)(void*);
  void (*failed)(void*, uint32_t, const char*);
  void (*terminated)(void*);
} queryCallbackVtbl = {HostNotDeleted, QueryEnded, QueryFailed, QueryEnded};
static const void* queryCallback = &queryCallbackVtbl;

static bool TextSet(void* self, const char* text) {
  (void)self;
  (void)text;
  CallbackBegins(false);
  return true;
}
static bool TextSetValid(void* self, bool valid) {
  (void)self;
  (void)valid;
  CallbackBegins(false);
  return true;
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*setName)(void*, const char*);
  bool (*setSecond)(void*, const char*);
  bool (*setValid)(void*, bool);
  bool (*setValue)(void*, const char*);
} textVtbl = {HostNotDeleted, TextSet, TextSet, TextSetValid, TextSet};
static const void* textEntry = &textVtbl;
static bool RatesAdd(void* self, uint32_t code) {
  (void)self;
  (void)code;
  CallbackBegins(false);
  return true;
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*add)(void*, uint32_t);
  bool (*setDefault)(void*, uint32_t);
} ratesVtbl = {HostNotDeleted, RatesAdd, RatesAdd};
static const void* rates = &ratesVtbl;
static bool ResultSetNumber(void* self, uint32_t id, uint32_t value) {
  (void)self;
  (void)id;
  (void)value;
  CallbackBegins(false);
  return true;
}
/* Every text entry is one shared object: its setters only count. */
static void* ResultGetText(void* self, uint32_t id) {
  (void)self;
  (void)id;
  CallbackBegins(false);
  return (void*)&textEntry;
}
static void* ResultGetRates(void* self) {
  (void)self;
  CallbackBegins(false);
  return (void*)&rates;
}
static bool ResultSetDeviceText(void* self, uint32_t kind, const char* text) {
  (void)self;
  (void)kind;
  (void)text;
  CallbackBegins(false);
  return true;
}
static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*setNumber)(void*, uint32_t, uint32_t);
  void* (*getText)(void*, uint32_t);
  void* (*getRates)(void*);
  bool (*setDeviceText)(void*, uint32_t, const char*);
} resultVtbl = {HostNotDeleted, ResultSetNumber, ResultGetText, ResultGetRates, ResultSetDeviceText};
static const void* queryResult = &resultVtbl;

/* ---- start and stop of each subsystem ---- */

static bool IsVideo(Subsystem s) {
  return s == SUB_LIVE || s == SUB_MJPEG || s == SUB_MPEG4 || s == SUB_MOTION || s == SUB_EDGE;
}

static bool StartVideo(uint32_t format, uint32_t width, uint32_t height, uint32_t fps, bool motion) {
  static HostVideoSettings settings;
  g.video = (VideoCapture*)g.driver->vtbl->GetVideoCapture(g.driver);
  if (!g.video) return false;
  VideoSettingsInit(&settings, format, width, height, fps, 50);
  settings.rate.motion = motion ? 1 : 0;
  return g.video->vtbl->StartChannel(g.video, 0, (void*)&videoCallback, &settings);
}

static bool StartAudioIn(void) {
  g.audio = (AudioCapture*)g.driver->vtbl->GetAudioCapture2(g.driver);
  return g.audio && g.audio->vtbl->OpenChannel(g.audio, 0, 0, (void*)&audioCallback, 0x1234);
}

static bool StartIO(void) {
  g.io = (IOApi*)g.driver->vtbl->GetIOApi(g.driver);
  return g.io && g.io->vtbl->SetCallback(g.io, (void*)&ioCallback) && g.io->vtbl->StartIO(g.io);
}

static bool StartPTZ(void) {
  PTZDriver* ptz = (PTZDriver*)g.driver->vtbl->GetPTZDriverEx(g.driver);
  g.ptz = ptz ? ptz->vtbl->GetPTZApiEx(ptz, 0) : NULL;
  return g.ptz && g.ptz->vtbl->StartMove(g.ptz, 0, 16) == 1;
}

/* Audio output keeps sending while the case runs, as a talking operator does. */
static void PumpAudio(void) {
  if (g.sub != SUB_AUDIO_OUT || !g.sender || g.stopReturned) return;
  ULONGLONG now = GetTickCount64();
  if (now - g.lastSend < 130) return;
  g.lastSend = now;
  static uint8_t silence[AUDIO_FRAME_BYTES];
  memset(silence, 0xFF, sizeof(silence));
  void* frame =
      HostAudioFrameMake(silence, sizeof(silence), (uint32_t)('7' | '1' << 8 | '1' << 16 | 'M' << 24), 8000,
                         16, false, 64000, 0);
  if (!frame) return;
  InterlockedIncrement(&g.allocator.allocated);
  if (!g.sender->vtbl->Send(g.sender, frame)) {
    InterlockedIncrement(&g.allocator.released);
    HostAudioFrameFree(frame);
  }
}

static bool StartSubsystem(void) {
  switch (g.sub) {
    case SUB_LIVE:
      return StartVideo(3, 640, 480, 25, false);
    case SUB_MJPEG:
      return StartVideo(1, 640, 480, 10, false);
    case SUB_MPEG4:
      return StartVideo(2, 640, 480, 25, false);
    case SUB_MOTION:
      return StartVideo(3, 640, 480, 25, true);
    case SUB_EDGE: {
      g.video = (VideoCapture*)g.driver->vtbl->GetVideoCapture(g.driver);
      uint16_t on = 1;
      if (!g.video || !g.video->vtbl->SetProperty(g.video, "EdgeStorageState", &on, sizeof(on))) return false;
      return StartVideo(3, 320, 240, 25, false);
    }
    case SUB_AUDIO_IN:
      return StartAudioIn();
    case SUB_AUDIO_OUT:
      g.sender = (AudioSender*)g.driver->vtbl->GetAudioSender(g.driver);
      return g.sender &&
             g.sender->vtbl->OpenChannel(g.sender, 0, AUDIO_INDEX, (void*)&audioStatus, (void*)&formatList);
    case SUB_IO:
      return StartIO();
    case SUB_PTZ:
      return StartPTZ();
    case SUB_QUERY:
      return g.queryStart(g.device.address, (uint16_t)g.device.port, g.device.user, g.device.password,
                          (void*)&queryResult) != 0;
    case SUB_CLOSE: {
      /* Everything a recorder runs on one camera; a part that does not start is reported, the
       * rest still runs. */
      bool video = StartVideo(3, 640, 480, 25, false);
      bool audio = StartAudioIn();
      bool io = StartIO();
      bool ptz = StartPTZ();
      RawPrint("SAFETY_PARTS video=%d audio=%d io=%d ptz=%d", video, audio, io, ptz);
      return video;
    }
    default:
      return false;
  }
}

static void CloseAndDeleteDriver(void) {
  if (g.driverGone || !g.driver) return;
  g.driverGone = true;
  g.driver->vtbl->Close(g.driver);
  DeleteDriverFn destroy = (DeleteDriverFn)(void (*)(void))GetProcAddress(g.library, "DeleteIPCaptureEx5");
  if (destroy) destroy(g.driver);
}

/* The stop the case measures; called from the host's thread or from inside a callback (where
 * the driver as a whole is never closed: the recorder stops the channel there). */
static bool StopSubsystem(bool inside) {
  if (IsVideo(g.sub) || (inside && g.sub == SUB_CLOSE))
    return g.video && g.video->vtbl->StopChannel(g.video, 0);
  switch (g.sub) {
    case SUB_AUDIO_IN:
      return g.audio && g.audio->vtbl->CloseChannel(g.audio, 0);
    case SUB_AUDIO_OUT:
      return g.sender && g.sender->vtbl->CloseChannel(g.sender, 0);
    case SUB_IO:
      return g.io && g.io->vtbl->StopIO(g.io);
    case SUB_PTZ:
      /* The recorder halts the head, then closes: the driver's Close ends the PTZ thread. */
      if (g.ptz) g.ptz->vtbl->Stop(g.ptz);
      g.driver->vtbl->Close(g.driver);
      return true;
    case SUB_QUERY:
      g.queryTerminate();
      return g.queryUninit() == 1;
    case SUB_CLOSE:
      CloseAndDeleteDriver();
      return true;
    default:
      return false;
  }
}

/* ---- waiting ---- */

/* Waits for `event` (null: just the time), sending audio meanwhile; true when it was set. */
static bool WaitPumping(HANDLE event, DWORD ms) {
  ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    PumpAudio();
    ULONGLONG now = GetTickCount64();
    if (now >= end) return event ? WaitForSingleObject(event, 0) == WAIT_OBJECT_0 : true;
    DWORD slice = (DWORD)(end - now) < 50 ? (DWORD)(end - now) : 50;
    if (event) {
      if (WaitForSingleObject(event, slice) == WAIT_OBJECT_0) return true;
    } else {
      Sleep(slice);
    }
  }
}

/* Waits for the line "go" in the command file. */
static bool WaitGo(DWORD ms) {
  ULONGLONG end = GetTickCount64() + ms;
  char line[512];
  while (GetTickCount64() < end) {
    while (g.reader.path && NextCommand(&g.reader, line, sizeof(line))) {
      if (strncmp(line, "go", 2) == 0) return true;
    }
    WaitPumping(NULL, 50);
  }
  return false;
}

/* ---- the command line ---- */

static bool ParseNumber(const char* text, DWORD* value) {
  char* end = NULL;
  if (!text || !*text) return false;
  unsigned long v = strtoul(text, &end, 10);
  if (*end) return false;
  *value = (DWORD)v;
  return true;
}

static int FindName(const char* const* names, int count, const char* name) {
  for (int i = 0; i < count; ++i)
    if (strcmp(names[i], name) == 0) return i;
  return -1;
}

static bool Parse(int argc, char** argv, const char** dll) {
  HostDevice* d = &g.device;
  d->address = "127.0.0.1";
  d->port = 80;
  d->user = "";
  d->password = "";
  d->model = "Lumivar camera";
  d->channelCount = 1;
  d->defaultVideoFormat = 3;
  g.blockMs = 3000;
  g.holdMs = 1500;
  g.waitMs = 40000;
  g.graceMs = 1500;
  g.hangMs = 60000;
  g.caseMs = 120000;
  int sub = -1, cond = -1;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : NULL;
    DWORD n = 0;
    if (strcmp(a, "safety") == 0) continue;
    if (!v) return false;
    ++i;
    if (strcmp(a, "--dll") == 0) {
      *dll = v;
    } else if (strcmp(a, "-a") == 0) {
      d->address = v;
    } else if (strcmp(a, "-P") == 0 && ParseNumber(v, &n)) {
      d->port = n;
    } else if (strcmp(a, "-u") == 0) {
      d->user = v;
    } else if (strcmp(a, "-w") == 0) {
      d->password = v;
    } else if (strcmp(a, "-m") == 0) {
      d->model = v;
    } else if (strcmp(a, "-c") == 0 && ParseNumber(v, &n)) {
      d->channelCount = n;
    } else if (strcmp(a, "-v") == 0 && ParseNumber(v, &n)) {
      d->defaultVideoFormat = n;
    } else if (strcmp(a, "-p") == 0 && strchr(v, '=') && d->parameterCount < HOST_MAX_PARAMETERS) {
      d->parameters[d->parameterCount].number = (uint32_t)strtoul(v, NULL, 10);
      d->parameters[d->parameterCount].text = strchr(v, '=') + 1;
      d->parameterCount++;
    } else if (strcmp(a, "--commands") == 0) {
      g.reader.path = v;
    } else if (strcmp(a, "--subsystem") == 0) {
      sub = FindName(subsystemNames, SUB_COUNT, v);
    } else if (strcmp(a, "--condition") == 0) {
      cond = FindName(conditionNames, COND_COUNT, v);
    } else if (strcmp(a, "--block-ms") == 0 && ParseNumber(v, &n)) {
      g.blockMs = n;
    } else if (strcmp(a, "--hold-ms") == 0 && ParseNumber(v, &n)) {
      g.holdMs = n;
    } else if (strcmp(a, "--wait-ms") == 0 && ParseNumber(v, &n)) {
      g.waitMs = n;
    } else if (strcmp(a, "--grace-ms") == 0 && ParseNumber(v, &n)) {
      g.graceMs = n;
    } else if (strcmp(a, "--hang-ms") == 0 && ParseNumber(v, &n)) {
      g.hangMs = n;
    } else if (strcmp(a, "--case-ms") == 0 && ParseNumber(v, &n)) {
      g.caseMs = n;
    } else {
      return false;
    }
  }
  if (sub < 0 || cond < 0) return false;
  g.sub = (Subsystem)sub;
  g.cond = (Condition)cond;
  return true;
}

/* ---- threads that outlive the driver ---- */

static int ListThreads(DWORD* ids, int max) {
  int n = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more && n < max; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids[n++] = entry.th32ThreadID;
  CloseHandle(snapshot);
  return n;
}

/* Threads that did not exist after Open and did not start in ntdll (the platform's thread-pool
 * workers start there and linger by design); with `print`, each new thread with its module. */
static int CountLeakedThreads(bool print) {
  typedef LONG(WINAPI * QueryThreadFn)(HANDLE, int, void*, ULONG, ULONG*);
  QueryThreadFn query = (QueryThreadFn)(void (*)(void))GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                      "NtQueryInformationThread");
  DWORD now[MAX_THREADS];
  int count = ListThreads(now, MAX_THREADS), leaked = 0;
  for (int i = 0; i < count; ++i) {
    bool old = false;
    for (int j = 0; j < threadsBeforeCount && !old; ++j) old = threadsBefore[j] == now[i];
    if (old) continue;
    char module[MAX_PATH] = "?";
    void* start = NULL;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, now[i]);
    if (thread && query &&
        query(thread, 9 /* ThreadQuerySetWin32StartAddress */, &start, sizeof(start), NULL) == 0) {
      HMODULE owner = NULL;
      if (GetModuleHandleExA(
              GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
              (const char*)start, &owner))
        GetModuleFileNameA(owner, module, sizeof(module));
    }
    if (thread) CloseHandle(thread);
    const char* base = strrchr(module, '\\');
    bool pool = base && _stricmp(base + 1, "ntdll.dll") == 0;
    if (!pool) ++leaked;
    if (print) RawPrint("SAFETY_THREAD id=%lu start=%p module=%s", (unsigned long)now[i], start, module);
  }
  return leaked;
}

/* ---- the run ---- */

static bool Prepare(const char* dll) {
  g.library = LoadLibraryA(dll);
  if (!g.library) {
    HostPrint("host: cannot load %s (error %lu)", dll, (unsigned long)GetLastError());
    return false;
  }
  if (g.sub == SUB_QUERY) {
    g.queryInit = (QueryInitFn)(void (*)(void))GetProcAddress(g.library, "InitCapabilityQuery");
    g.queryStart = (QueryStartFn)(void (*)(void))GetProcAddress(g.library, "StartCapabilityQuery");
    g.queryTerminate = (QueryNoArgFn)(void (*)(void))GetProcAddress(g.library, "TerminateCapabilityQuery");
    g.queryUninit = (QueryNoArgFn)(void (*)(void))GetProcAddress(g.library, "UninitCapabilityQuery");
    if (!g.queryInit || !g.queryStart || !g.queryTerminate || !g.queryUninit) return false;
    return g.queryInit((void*)&queryCallback, 0) == 1;
  }
  CreateDriverFn create = (CreateDriverFn)(void (*)(void))GetProcAddress(g.library, "CreateIPCaptureEx5");
  if (!create) return false;
  g.driver = create();
  if (!g.driver) return false;
  static DebugSink sink;
  static OpenParams params;
  DebugSinkInit(&sink);
  FrameAllocatorInit(&g.allocator);
  OpenParamsInit(&params, &g.device);
  Watch("open");
  bool opened = g.driver->vtbl->Open(g.driver, &sink, &g.allocator, &params);
  Unwatch();
  RawPrint("SAFETY_OPEN result=%s", opened ? "true" : "false");
  return opened;
}

int SafetyMain(int argc, char** argv) {
  const char* dll = "LumivarIPCapture.dll";
  if (!Parse(argc, argv, &dll)) {
    fprintf(
        stderr,
        "usage: lumivar_host [device options] safety --subsystem live|mjpeg|mpeg4|audio-in|audio-out|motion|"
        "io|ptz|edge|query|close\n"
        "                    --condition silent|vanish|block|inside [--commands FILE] [--block-ms MS]\n"
        "                    [--hold-ms MS] [--wait-ms MS] [--grace-ms MS] [--hang-ms MS] [--case-ms MS]\n");
    return 2;
  }
  HostObjectsInit();
  g.firstCallback = CreateEventA(NULL, TRUE, FALSE, NULL);
  g.blocking = CreateEventA(NULL, TRUE, FALSE, NULL);
  g.insideDone = CreateEventA(NULL, TRUE, FALSE, NULL);
  g.caseEnd = (LONGLONG)(GetTickCount64() + g.caseMs);
  CloseHandle(CreateThread(NULL, 0, Watchdog, NULL, 0, NULL));
  if (!Prepare(dll)) {
    PrintResult(-1, -1, NULL, "open-failed");
    return 1;
  }
  ReadProcessFigures(&g.before);
  threadsBeforeCount = ListThreads(threadsBefore, MAX_THREADS);

  if (g.cond == COND_SILENT) {
    RawPrint("SAFETY_READY");
    if (!WaitGo(g.waitMs)) RawPrint("SAFETY_NOTE no \"go\" in time");
  }
  if (g.cond == COND_BLOCK || g.cond == COND_INSIDE) g.armed = 1;
  ULONGLONG startBegin = GetTickCount64();
  Watch("start");
  bool started = StartSubsystem();
  Unwatch();
  RawPrint("SAFETY_START result=%s ms=%lu", started ? "true" : "false",
           (unsigned long)(GetTickCount64() - startBegin));
  /* Against a silent camera a refused start is expected; otherwise the case did not run. */
  bool startFailed = !started && g.cond != COND_SILENT;

  bool hasCallbacks = g.sub != SUB_PTZ;
  if (g.cond == COND_SILENT) {
    /* A replay begins only after the link came back: the test silences the camera then and says
     * "go" again. */
    if (g.sub == SUB_EDGE) {
      RawPrint("SAFETY_RUNNING");
      if (!WaitGo(g.waitMs)) RawPrint("SAFETY_NOTE no \"go\" in time");
    }
    WaitPumping(NULL, g.holdMs);
  } else if (g.cond == COND_VANISH) {
    /* The query's only callback is its end: the camera vanishes while its requests run. */
    if (g.sub == SUB_QUERY) hasCallbacks = false;
    if (hasCallbacks && !startFailed && !WaitPumping(g.firstCallback, g.waitMs))
      RawPrint("SAFETY_NOTE no callback within %lu ms", (unsigned long)g.waitMs);
    if (!hasCallbacks) WaitPumping(NULL, 1000);
    RawPrint("SAFETY_RUNNING");
    if (!WaitGo(g.waitMs)) RawPrint("SAFETY_NOTE no \"go\" in time");
    WaitPumping(NULL, g.holdMs);
  } else if (g.cond == COND_BLOCK && hasCallbacks && !startFailed) {
    if (WaitPumping(g.blocking, g.waitMs)) Sleep(200);
  } else if (g.cond == COND_INSIDE && hasCallbacks && !startFailed) {
    Watch("stop inside a callback");
    /* Called but never returned (or its thread was ended under it): the watchdog reports it. */
    if (!WaitPumping(g.insideDone, g.waitMs) && g.insideEntered) WaitPumping(g.insideDone, g.hangMs);
    Unwatch();
  }

  LONG stopMs;
  if (g.cond == COND_INSIDE && hasCallbacks) {
    stopMs = g.innerStopDone ? g.innerStopMs : -1;
    /* The recorder's own stop afterwards must be harmless and prompt. */
    if (g.sub != SUB_CLOSE && g.sub != SUB_QUERY) {
      Watch("stop after the stop inside");
      ULONGLONG begin = GetTickCount64();
      bool ok = StopSubsystem(false);
      Unwatch();
      RawPrint("SAFETY_STOP_AGAIN result=%s ms=%lu", ok ? "true" : "false",
               (unsigned long)(GetTickCount64() - begin));
    }
  } else {
    Watch("stop");
    ULONGLONG begin = GetTickCount64();
    bool ok = StopSubsystem(false);
    stopMs = (LONG)(GetTickCount64() - begin);
    InterlockedExchange(&g.stopReturned, 1);
    Unwatch();
    RawPrint("SAFETY_STOP result=%s ms=%ld", ok ? "true" : "false", stopMs);
  }
  g.armed = 0;
  LONG closeMs = 0;
  if (g.cond == COND_INSIDE && g.sub == SUB_CLOSE) {
    /* The recorder closes the driver right after the stop it made inside the callback. */
    Watch("close");
    ULONGLONG begin = GetTickCount64();
    CloseAndDeleteDriver();
    InterlockedExchange(&g.onlyVideoLate, 0);
    Unwatch();
    closeMs = (LONG)(GetTickCount64() - begin);
    RawPrint("SAFETY_CLOSE_AFTER_INSIDE ms=%ld", closeMs);
  }
  InterlockedExchange(&g.stopReturned, 1);
  Watch("grace");
  Sleep(g.graceMs); /* a late callback has its chance to show */
  Unwatch();

  Watch("close");
  ULONGLONG closeBegin = GetTickCount64();
  if (g.sub == SUB_QUERY) {
    g.queryUninit();
  } else if (g.sub == SUB_PTZ) {
    DeleteDriverFn destroy = (DeleteDriverFn)(void (*)(void))GetProcAddress(g.library, "DeleteIPCaptureEx5");
    g.driver->vtbl->Close(g.driver);
    if (destroy) destroy(g.driver);
    g.driverGone = true;
  } else {
    CloseAndDeleteDriver();
  }
  if (!closeMs) closeMs = (LONG)(GetTickCount64() - closeBegin);
  Unwatch();
  Sleep(300); /* a callback that a Close let through shows here */

  ProcessFigures after;
  /* Threads end a little after the calls that stopped them returned: a bounded moment. A query
   * thread let go by Uninit may still wait in a WinHTTP call that Wine cannot abort; it ends at
   * that request's time-out, so the wait allows the Close bound (12 s). */
  int leaked = 0;
  for (int i = 0; i < 120 && (leaked = CountLeakedThreads(false)) > 0; ++i) Sleep(100);
  ReadProcessFigures(&after);
  if (after.threads > g.before.threads) CountLeakedThreads(true);
  threadsLeaked = leaked;
  const char* result = startFailed ? "start-failed" : "ok";
  fflush(stdout);
  PrintResult(stopMs, closeMs, &after, result);
  /* Threads of the driver that outlived Delete would run in an unloaded library, and a thread
   * ended inside the host may hold the loader's lock: the process ends here without either. */
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}
