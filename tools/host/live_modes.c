/* The host's live-video modes: a recorder receiving streams (live), starting and stopping a
 * channel many times while watching its own resources (cycles), and carrying many streams at
 * once (multi). Every figure a test or benchmark asserts on is printed as one line of
 * "KEY name=value ..." pairs. */
#include <windows.h>
/* After windows.h, which they build on. */
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

#include "audio_objects.h"
#include "edge_storage.h"
#include "frame_latency.h"
#include "host_session.h"
#include "video_objects.h"

#define TICK_MS 100

typedef struct LiveStream {
  StreamRequest request;
  StreamSink sink;
  FILE* out;
  char path[MAX_PATH];
  HostVideoSettings settings; /* the run's, or with the stream's own size */
  StreamFigures last;         /* at the previous once-a-second line */
  bool started;
  bool announcedFirst;
} LiveStream;

static VideoCapture* GetVideo(Session* session) {
  Driver* driver = session->driver;
  void* object = session->version >= 5 ? driver->vtbl->GetVideoCaptureEx2(driver)
                                       : driver->vtbl->GetVideoCapture(driver);
  if (!object) HostPrint("host: ERROR: the driver has no video-capture object");
  return (VideoCapture*)object;
}

/* "out/capture.h264" -> "out/capture-c0s1.h264" for the second and later streams of a run. */
static void StreamPath(const char* output, const StreamRequest* request, bool several, char* path,
                       size_t size) {
  if (!several) {
    snprintf(path, size, "%s", output);
    return;
  }
  const char* slash = strrchr(output, '/');
  const char* backslash = strrchr(output, '\\');
  if (backslash > slash) slash = backslash;
  const char* dot = strrchr(output, '.');
  if (!dot || (slash && dot < slash)) dot = output + strlen(output);
  snprintf(path, size, "%.*s-c%us%u%s", (int)(dot - output), output, request->channel, request->stream, dot);
}

static void ApplyZones(HostVideoSettings* settings, const LiveOptions* live) {
  for (int i = 0; i < live->zoneCount; ++i) {
    const ZoneRequest* z = &live->zones[i];
    VideoSettingsAddZone(settings, z->x, z->y, z->width, z->height);
  }
}

static bool StartOne(VideoCapture* video, int version, LiveStream* s, HostVideoSettings* settings) {
  const StreamRequest* r = &s->request;
  bool ok;
  if (r->stream == 0) {
    ok = video->vtbl->StartChannel(video, r->channel, &s->sink, settings);
  } else if (version >= 5) {
    ok = video->vtbl->StartStream(video, r->channel, r->stream, &s->sink, settings);
  } else {
    HostPrint("host: ERROR: stream %u needs the version 5 factory (StartStream)", r->stream);
    return false;
  }
  HostPrint("START channel=%u stream=%u result=%s", r->channel, r->stream, ok ? "true" : "false");
  return ok;
}

static bool StopTimed(VideoCapture* video, uint32_t channel, int stream, DWORD* ms) {
  ULONGLONG begin = GetTickCount64();
  bool ok = stream < 0 ? video->vtbl->StopChannel(video, channel)
                       : video->vtbl->StopStream(video, channel, (uint32_t)stream);
  *ms = (DWORD)(GetTickCount64() - begin);
  if (stream < 0) {
    HostPrint("STOP channel=%u stream=all ms=%lu result=%s", channel, (unsigned long)*ms,
              ok ? "true" : "false");
  } else {
    HostPrint("STOP channel=%u stream=%d ms=%lu result=%s", channel, stream, (unsigned long)*ms,
              ok ? "true" : "false");
  }
  return ok;
}

/* ---- commands appended to a file while the host runs ---- */

/* Next whole line appended since the last call, or false. */
bool NextCommand(CommandReader* reader, char* line, size_t size) {
  if (!reader->path) return false;
  FILE* f = fopen(reader->path, "rb");
  if (!f) return false;
  bool got = false;
  if (fseek(f, reader->offset, SEEK_SET) == 0) {
    int c;
    while ((c = fgetc(f)) != EOF) {
      reader->offset++;
      if (c == '\r') continue;
      if (c == '\n') {
        reader->pending[reader->pendingLength] = '\0';
        snprintf(line, size, "%s", reader->pending);
        reader->pendingLength = 0;
        got = true;
        break;
      }
      if (reader->pendingLength + 1 < sizeof(reader->pending))
        reader->pending[reader->pendingLength++] = (char)c;
    }
  }
  fclose(f);
  return got;
}

/* What a command may restart: the run's streams with the settings they started with. */
typedef struct LiveRun {
  LiveStream* streams;
  int count;
  HostVideoSettings* settings;
} LiveRun;

/* Runs one command; returns false for "quit". */
static bool RunCommand(VideoCapture* video, int version, const LiveRun* run, const char* line) {
  unsigned ch = 0, idx = 0, w = 0, h = 0, fps = 0;
  char word[32] = "";
  if (sscanf(line, "%31s", word) != 1) return true;
  if (strcmp(word, "quit") == 0) {
    HostPrint("CMD quit");
    return false;
  }
  if (strcmp(word, "mark") == 0) {
    HostPrint("CMD %s", line);
  } else if (strcmp(word, "pause") == 0 && sscanf(line, "%*s %u", &ch) == 1 && version >= 2) {
    HostPrint("CMD pause channel=%u result=%s", ch, video->vtbl->PauseChannel(video, ch) ? "true" : "false");
  } else if (strcmp(word, "resume") == 0 && sscanf(line, "%*s %u", &ch) == 1 && version >= 2) {
    HostPrint("CMD resume channel=%u result=%s", ch,
              video->vtbl->ResumeChannel(video, ch) ? "true" : "false");
  } else if (strcmp(word, "update") == 0 && sscanf(line, "%*s %u %u %u %u", &ch, &w, &h, &fps) == 4) {
    HostVideoSize size;
    VideoSizeInit(&size, w, h);
    bool ok = video->vtbl->UpdateChannelSettings(video, ch, &size, 0x7000u | (fps & 0xFFFu));
    HostPrint("CMD update channel=%u size=%ux%u fps=%u result=%s", ch, w, h, fps, ok ? "true" : "false");
  } else if (strcmp(word, "stop") == 0 && sscanf(line, "%*s %u", &ch) == 1) {
    DWORD ms;
    StopTimed(video, ch, -1, &ms);
  } else if (strcmp(word, "start") == 0 && sscanf(line, "%*s %u", &ch) == 1) {
    /* The host taking a stopped channel back, with the callback and settings it began with. */
    LiveStream* s = NULL;
    for (int i = 0; i < run->count && !s; ++i)
      if (run->streams[i].request.channel == ch && run->streams[i].request.stream == 0) s = &run->streams[i];
    if (s) {
      s->started = StartOne(video, version, s, run->settings);
    } else {
      HostPrint("host: ERROR: channel %u is not one of this run's streams", ch);
    }
  } else if (strcmp(word, "stopstream") == 0 && sscanf(line, "%*s %u %u", &ch, &idx) == 2 && version >= 5) {
    DWORD ms;
    StopTimed(video, ch, (int)idx, &ms);
  } else {
    HostPrint("host: ERROR: unknown command \"%s\"", line);
  }
  return true;
}

/* ---- live ---- */

static void PrintSecond(LiveStream* s, unsigned second) {
  StreamFigures now;
  StreamSinkRead(&s->sink, &now);
  char fourcc[5];
  FourCCText(now.fourcc, fourcc);
  unsigned long long frames = now.frames - s->last.frames;
  unsigned long long kbps = (now.bytes - s->last.bytes) * 8 / 1000;
  HostPrint("STATS t=%u channel=%u stream=%u frames=%llu total=%llu kbps=%llu size=%ux%u fourcc=%s class=%u",
            second, s->request.channel, s->request.stream, frames, (unsigned long long)now.frames, kbps,
            now.width, now.height, fourcc, now.sizeClass);
  s->last = now;
}

bool ModeLive(Session* session) {
  const LiveOptions* live = &session->options->live;
  VideoCapture* video = GetVideo(session);
  if (!video) return false;
  HostVideoSettings settings;
  VideoSettingsInit(&settings, live->format, live->width, live->height, live->fps, live->quality);
  if (live->frameCode) settings.rate.frameRate = live->frameCode;
  ApplyZones(&settings, live);
  if (live->edgeStorage && !EdgeStorageStart(video, live->replayFile)) return false;

  const int count = live->streamCount;
  LiveStream* streams = (LiveStream*)calloc((size_t)count, sizeof(LiveStream));
  if (!streams) return false;
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    LiveStream* s = &streams[i];
    s->request = live->streams[i];
    if (live->output) {
      StreamPath(live->output, &s->request, count > 1, s->path, sizeof(s->path));
      s->out = fopen(s->path, "wb");
      if (!s->out) {
        HostPrint("host: ERROR: cannot write %s", s->path);
        ok = false;
      }
    }
    StreamSinkInit(&s->sink, s->request.channel, s->request.stream, s->out);
    s->settings = settings;
    if (s->request.width) {
      VideoSettingsInit(&s->settings, live->format, s->request.width, s->request.height, live->fps,
                        live->quality);
      if (live->frameCode) s->settings.rate.frameRate = live->frameCode;
      ApplyZones(&s->settings, live);
    }
  }

  ULONGLONG begin = GetTickCount64();
  for (int i = 0; i < count && ok; ++i) {
    /* The driver reports a failed start, yet keeps trying to connect: receiving decides. */
    streams[i].started = StartOne(video, session->version, &streams[i], &streams[i].settings);
  }

  uint32_t states[64];
  for (int i = 0; i < 64; ++i) states[i] = 0xFFFFFFFFu;
  CommandReader reader = {live->commandFile, 0, "", 0};
  const LiveRun run = {streams, count, &settings};
  unsigned second = 0;
  ULONGLONG nextSecond = begin + 1000, end = begin + (ULONGLONG)live->seconds * 1000;
  /* Counting from the first frame: until every stream has one, the end is the longest wait. */
  bool waitingFirst = live->firstFrameWaitSeconds > 0;
  if (waitingFirst) end += (ULONGLONG)live->firstFrameWaitSeconds * 1000;
  bool running = ok;
  while (running && GetTickCount64() < end) {
    Sleep(TICK_MS);
    char line[512];
    while (running && NextCommand(&reader, line, sizeof(line)))
      running = RunCommand(video, session->version, &run, line);
    for (int i = 0; i < count; ++i) {
      LiveStream* s = &streams[i];
      uint32_t ch = s->request.channel;
      StreamFigures now;
      StreamSinkRead(&s->sink, &now);
      if (!s->announcedFirst && now.frames > 0) {
        s->announcedFirst = true;
        HostPrint("FIRST_FRAME channel=%u stream=%u ms=%lu", ch, s->request.stream,
                  (unsigned long)(GetTickCount64() - begin));
      }
      if (ch < 64) {
        uint32_t state = 0xFFFFFFFEu, extra = 0;
        uint8_t flag[4] = {1, 1, 1, 1};
        if (!video->vtbl->GetChannelState(video, ch, &state, &extra, flag, sizeof(flag))) state = 0xFFFFFFFEu;
        if (state != states[ch]) {
          states[ch] = state;
          if (state == 0xFFFFFFFEu) {
            HostPrint("STATE channel=%u state=none", ch);
          } else {
            HostPrint("STATE channel=%u state=%u", ch, state);
          }
        }
      }
    }
    if (waitingFirst) {
      bool all = true;
      for (int i = 0; i < count; ++i) all = all && streams[i].announcedFirst;
      if (all) {
        waitingFirst = false;
        end = GetTickCount64() + (ULONGLONG)live->seconds * 1000;
      }
    }
    if (GetTickCount64() >= nextSecond) {
      nextSecond += 1000;
      ++second;
      for (int i = 0; i < count; ++i) PrintSecond(&streams[i], second);
    }
  }

  /* Streams other than 0 first, as StopChannel would; then every channel that has stream 0. */
  for (int i = 0; i < count; ++i) {
    DWORD ms;
    if (streams[i].request.stream != 0)
      StopTimed(video, streams[i].request.channel, (int)streams[i].request.stream, &ms);
  }
  for (int i = 0; i < count; ++i) {
    DWORD ms;
    if (streams[i].request.stream == 0) StopTimed(video, streams[i].request.channel, -1, &ms);
  }

  for (int i = 0; i < count; ++i) {
    LiveStream* s = &streams[i];
    StreamFigures f;
    StreamSinkRead(&s->sink, &f);
    char fourcc[5];
    FourCCText(f.fourcc, fourcc);
    HostPrint(
        "LIVE channel=%u stream=%u frames=%llu bytes=%llu size=%ux%u fourcc=%s class=%u bad=%u "
        "signal_lost=%ld file=%s",
        s->request.channel, s->request.stream, (unsigned long long)f.frames, (unsigned long long)f.bytes,
        f.width, f.height, fourcc, f.sizeClass, f.badFrames, f.signalLost, s->out ? s->path : "-");
    if (f.badFrames) ok = false;
    if (f.frames == 0 && !live->allowNoFrames) {
      HostPrint("host: ERROR: channel %u stream %u delivered no frame", s->request.channel,
                s->request.stream);
      ok = false;
    }
    if (s->out) fclose(s->out);
    StreamSinkDestroy(&s->sink);
  }
  free(streams);
  EdgeStorageFinish();
  return ok;
}

/* ---- cycles ---- */

/* Wine answers GetProcessHandleCount and the private bytes of K32GetProcessMemoryInfo with 0,
 * and Toolhelp lists only some threads. Where that happens the figures come from the places
 * Wine keeps them: the system handle table (which Wine does fill) and the committed private
 * regions of the address space. /proc/self/status is read last, but under Wine the Wine server
 * opens the file, so it describes the server (one thread, its own memory), not this process. */
typedef LONG(WINAPI* QuerySystemInformationFn)(ULONG, void*, ULONG, ULONG*);

typedef struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  void* object;
  ULONG access;
} HandleEntry;

static DWORD CountHandlesInSystemTable(void) {
  QuerySystemInformationFn query = (QuerySystemInformationFn)(void (*)(void))GetProcAddress(
      GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (!query) return 0;
  ULONG size = 1 << 20;
  for (int attempt = 0; attempt < 6; ++attempt, size *= 2) {
    BYTE* buffer = (BYTE*)malloc(size);
    if (!buffer) return 0;
    ULONG needed = 0;
    LONG status = query(16 /* SystemHandleInformation */, buffer, size, &needed);
    if (status == 0) {
      ULONG count = *(ULONG*)buffer;
      const HandleEntry* entries = (const HandleEntry*)(buffer + sizeof(void*));
      DWORD self = GetCurrentProcessId(), mine = 0;
      for (ULONG i = 0; i < count && sizeof(void*) + (i + 1) * sizeof(HandleEntry) <= size; ++i) {
        if (entries[i].ownerPid == self) mine++;
      }
      free(buffer);
      return mine;
    }
    free(buffer);
    if ((ULONG)status != 0xC0000004u /* STATUS_INFO_LENGTH_MISMATCH */) return 0;
  }
  return 0;
}

/* "Threads:" and "RssAnon:" of the Linux process running us under Wine; false elsewhere. */
static bool ReadLinuxStatus(DWORD* threads, SIZE_T* anonymousBytes) {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return false;
  char line[256];
  bool found = false;
  unsigned long value;
  while (fgets(line, sizeof(line), f)) {
    if (sscanf(line, "Threads: %lu", &value) == 1) {
      *threads = (DWORD)value;
      found = true;
    } else if (sscanf(line, "RssAnon: %lu kB", &value) == 1) {
      *anonymousBytes = (SIZE_T)value * 1024;
    }
  }
  fclose(f);
  return found;
}

/* Committed private memory of the process, from its address space: where Wine reports no private
 * bytes, this walk still sees what the heaps and thread stacks committed. */
static SIZE_T CommittedPrivateBytes(void) {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const BYTE* at = NULL; VirtualQuery(at, &info, sizeof(info)) == sizeof(info);) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    const BYTE* next = (const BYTE*)info.BaseAddress + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

void ReadProcessFigures(ProcessFigures* p) {
  memset(p, 0, sizeof(*p));
  GetProcessHandleCount(GetCurrentProcess(), &p->handles);
  if (p->handles == 0) p->handles = CountHandlesInSystemTable();
  PROCESS_MEMORY_COUNTERS_EX memory;
  memset(&memory, 0, sizeof(memory));
  memory.cb = sizeof(memory);
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&memory, sizeof(memory))) {
    p->privateBytes = memory.PrivateUsage;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == self) p->threads++;
    }
    CloseHandle(snapshot);
  }
  DWORD linuxThreads = 0;
  SIZE_T anonymous = 0;
  /* Wine reports no private bytes; its committed private regions are the same figure. */
  if (p->privateBytes == 0) p->privateBytes = CommittedPrivateBytes();
  if (ReadLinuxStatus(&linuxThreads, &anonymous)) {
    if (linuxThreads > p->threads) p->threads = linuxThreads;
    if (p->privateBytes == 0) p->privateBytes = anonymous;
  }
}

void PrintProcessFigures(const char* label, unsigned done, const ProcessFigures* p) {
  HostPrint("CYCLES %s done=%u handles=%lu threads=%lu private_kb=%lu", label, done,
            (unsigned long)p->handles, (unsigned long)p->threads, (unsigned long)(p->privateBytes / 1024));
}

/* Threads end a little after StopChannel returns their handles; give them a bounded moment. */
void SettleThreads(const ProcessFigures* baseline, ProcessFigures* now) {
  for (int i = 0; i < 50; ++i) {
    ReadProcessFigures(now);
    if (now->threads <= baseline->threads && now->handles <= baseline->handles) return;
    Sleep(100);
  }
}

/* After each cycle past the warm-up: the figures halfway through (where one-time growth is over)
 * and every 25 cycles. */
void ReportCycle(unsigned cycles, unsigned cycle, unsigned warmup, const ProcessFigures* baseline,
                 ProcessFigures* middle, ProcessFigures* now) {
  if (cycle < warmup) return;
  unsigned done = cycle + 1 - warmup;
  if (done == cycles / 2) {
    SettleThreads(baseline, middle);
    PrintProcessFigures("middle", done, middle);
  } else if (done % 25 == 0) {
    ReadProcessFigures(now);
    PrintProcessFigures("progress", done, now);
  }
}

bool ModeCycles(Session* session) {
  if (session->options->audio.cycles) return AudioCycles(session);
  const LiveOptions* live = &session->options->live;
  /* With --audio the audio input channel is cycled instead of the video stream. */
  AudioCapture* audio = live->audio ? HostGetAudioCapture(session) : NULL;
  VideoCapture* video = live->audio ? NULL : GetVideo(session);
  if (!video && !audio) return false;
  HostVideoSettings settings;
  VideoSettingsInit(&settings, live->format, live->width, live->height, live->fps, live->quality);
  StreamSink sink;
  StreamSinkInit(&sink, 0, 0, NULL);
  AudioSink audioSink;
  AudioSinkInit(&audioSink, 0, NULL);
  audioSink.quiet = true;
  HANDLE frameEvent = audio ? audioSink.frameEvent : sink.frameEvent;

  /* The first cycles load system libraries and grow heaps once; the baseline comes after them. */
  const unsigned warmup = 3;
  const unsigned total = live->cycles + warmup;
  ProcessFigures baseline, middle, now;
  memset(&baseline, 0, sizeof(baseline));
  memset(&middle, 0, sizeof(middle));
  unsigned withFrame = 0, startFailures = 0;
  DWORD slowestStop = 0;
  for (unsigned cycle = 0; cycle < total; ++cycle) {
    if (cycle == warmup) {
      SettleThreads(&baseline, &baseline);
      PrintProcessFigures("baseline", 0, &baseline);
    }
    ResetEvent(frameEvent);
    bool started = audio ? audio->vtbl->OpenChannel(audio, 0, 0, &audioSink, 0)
                         : video->vtbl->StartChannel(video, 0, &sink, &settings);
    if (!started) startFailures++;
    if (live->cycleWaitMs && WaitForSingleObject(frameEvent, live->cycleWaitMs) == WAIT_OBJECT_0 &&
        cycle >= warmup) {
      withFrame++;
    }
    ULONGLONG begin = GetTickCount64();
    if (audio) {
      audio->vtbl->CloseChannel(audio, 0);
    } else {
      video->vtbl->StopChannel(video, 0);
    }
    DWORD ms = (DWORD)(GetTickCount64() - begin);
    if (ms > slowestStop) slowestStop = ms;
    ReportCycle(live->cycles, cycle, warmup, &baseline, &middle, &now);
  }
  SettleThreads(&baseline, &now);
  PrintProcessFigures("end", live->cycles, &now);

  StreamFigures f;
  StreamSinkRead(&sink, &f);
  StreamSinkDestroy(&sink);
  AudioFigures af;
  AudioSinkRead(&audioSink, &af);
  AudioSinkDestroy(&audioSink);
  if (audio) {
    f.frames = af.frames;
    f.badFrames = af.badFrames;
  }

  /* A per-cycle leak shows between the middle and the end, where one-time growth is over. */
  const long long kPrivateSlackKb = 1024;
  long long growthKb = ((long long)now.privateBytes - (long long)middle.privateBytes) / 1024;
  long long totalGrowthKb = ((long long)now.privateBytes - (long long)baseline.privateBytes) / 1024;
  bool threadsOk = now.threads <= baseline.threads;
  bool handlesOk = now.handles <= baseline.handles + 4;
  bool memoryOk = growthKb <= kPrivateSlackKb && totalGrowthKb <= 8 * kPrivateSlackKb;
  bool framesOk = live->cycleWaitMs == 0 || withFrame * 10 >= live->cycles * 9;
  HostPrint(
      "CYCLES result cycles=%u with_frame=%u frames=%llu bad=%u start_failures=%u slowest_stop_ms=%lu "
      "threads=%lu->%lu handles=%lu->%lu private_kb=%lu->%lu->%lu",
      live->cycles, withFrame, (unsigned long long)f.frames, f.badFrames, startFailures,
      (unsigned long)slowestStop, (unsigned long)baseline.threads, (unsigned long)now.threads,
      (unsigned long)baseline.handles, (unsigned long)now.handles,
      (unsigned long)(baseline.privateBytes / 1024), (unsigned long)(middle.privateBytes / 1024),
      (unsigned long)(now.privateBytes / 1024));
  bool ok = threadsOk && handlesOk && memoryOk && framesOk && f.badFrames == 0;
  HostPrint("CYCLES %s%s%s%s%s", ok ? "OK" : "FAILED:", threadsOk ? "" : " threads left behind",
            handlesOk ? "" : " handles left behind", memoryOk ? "" : " private bytes grow",
            framesOk ? "" : " too few cycles received a frame");
  return ok;
}

/* ---- multi ---- */

typedef struct MultiDriver {
  HostDevice device;
  OpenParams params;
  Driver* driver;
  VideoCapture* video;
  StreamSink sink;
  StreamFigures atStart;
  bool opened;
} MultiDriver;

static ULONGLONG ProcessCpu100ns(void) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  ULARGE_INTEGER k = {.LowPart = kernel.dwLowDateTime, .HighPart = kernel.dwHighDateTime};
  ULARGE_INTEGER u = {.LowPart = user.dwLowDateTime, .HighPart = user.dwHighDateTime};
  return k.QuadPart + u.QuadPart;
}

/* "MULTI memory": committed private KiB (Windows side). The Linux side is read by the benchmark
 * script: under Wine the Wine server opens the files a program names, so /proc/self here is the
 * server's, not ours. */
static void PrintMultiMemory(const char* when, uint32_t streams) {
  HostPrint("MULTI memory when=%s streams=%u private_kb=%lu", when, streams,
            (unsigned long)(CommittedPrivateBytes() / 1024));
}

static int Receiving(MultiDriver* d, uint32_t n) {
  int receiving = 0;
  for (uint32_t i = 0; i < n; ++i) {
    StreamFigures f;
    StreamSinkRead(&d[i].sink, &f);
    receiving += f.frames > 0;
  }
  return receiving;
}

bool ModeMulti(Session* session) {
  const LiveOptions* live = &session->options->live;
  const uint32_t n = live->drivers;
  CreateDriverFn create =
      (CreateDriverFn)(void (*)(void))GetProcAddress(session->library, "CreateIPCaptureEx5");
  DeleteDriverFn destroy =
      (DeleteDriverFn)(void (*)(void))GetProcAddress(session->library, "DeleteIPCaptureEx5");
  MultiDriver* d = (MultiDriver*)calloc(n, sizeof(MultiDriver));
  if (!create || !destroy || !d) return false;
  HostVideoSettings settings;
  VideoSettingsInit(&settings, live->format, live->width, live->height, live->fps, live->quality);

  bool ok = true;
  PrintMultiMemory("before", n);
  for (uint32_t i = 0; i < n; ++i) {
    d[i].device = session->options->device;
    if (live->cameraCount) d[i].device.address = live->cameras[i % (uint32_t)live->cameraCount];
    OpenParamsInit(&d[i].params, &d[i].device);
    StreamSinkInit(&d[i].sink, i, 0, NULL);
    d[i].sink.quiet = true;
    d[i].driver = create();
    if (!d[i].driver) continue;
    d[i].opened = d[i].driver->vtbl->Open(d[i].driver, session->sink, session->allocator, &d[i].params);
    if (d[i].opened) d[i].video = (VideoCapture*)d[i].driver->vtbl->GetVideoCaptureEx2(d[i].driver);
    if (!d[i].video || !d[i].video->vtbl->StartChannel(d[i].video, 0, &d[i].sink, &settings)) {
      HostPrint("host: ERROR: stream %u (%s) did not start", i, d[i].device.address);
      ok = false;
    }
  }

  ULONGLONG begin = GetTickCount64();
  ULONGLONG warmupEnd = begin + (ULONGLONG)live->warmupSeconds * 1000;
  while (Receiving(d, n) < (int)n && GetTickCount64() < warmupEnd) Sleep(TICK_MS);
  HostPrint("MULTI receiving=%d/%u after_ms=%lu", Receiving(d, n), n,
            (unsigned long)(GetTickCount64() - begin));
  /* Let the first-frame bursts pass before counting. */
  Sleep(2000);

  FrameLatencyStart(session->library);
  for (uint32_t i = 0; i < n; ++i) StreamSinkRead(&d[i].sink, &d[i].atStart);
  ULONGLONG cpuStart = ProcessCpu100ns();
  ULONGLONG measureStart = GetTickCount64();
  /* Lets a script sample other processes' CPU (the Wine server's) over the same window. */
  HostPrint("MULTI window begins");
  for (unsigned second = 1; second <= live->seconds; ++second) {
    Sleep(1000);
    unsigned long long total = 0;
    for (uint32_t i = 0; i < n; ++i) {
      StreamFigures f;
      StreamSinkRead(&d[i].sink, &f);
      total += f.frames - d[i].atStart.frames;
    }
    HostPrint("MULTI t=%u frames=%llu receiving=%d/%u", second, total, Receiving(d, n), n);
    /* For long runs (the restart soak): threads, handles and private bytes once a minute, seldom
     * enough not to weigh on the CPU figure. */
    if (second % 60 == 0) {
      PrintMultiMemory("running", n);
      ProcessFigures now;
      ReadProcessFigures(&now);
      HostPrint("MULTI process t=%u threads=%lu handles=%lu private_kb=%lu", second,
                (unsigned long)now.threads, (unsigned long)now.handles,
                (unsigned long)(now.privateBytes / 1024));
    }
  }
  ULONGLONG elapsedMs = GetTickCount64() - measureStart;
  ULONGLONG cpu = ProcessCpu100ns() - cpuStart;
  HostPrint("MULTI window ends");
  PrintMultiMemory("window_end", n);

  double expected = (double)live->fps * (double)elapsedMs / 1000.0;
  unsigned long long minFrames = ~0ull, maxFrames = 0, totalBytes = 0, totalFrames = 0;
  unsigned shortStreams = 0, badFrames = 0;
  for (uint32_t i = 0; i < n; ++i) {
    StreamFigures f;
    StreamSinkRead(&d[i].sink, &f);
    unsigned long long frames = f.frames - d[i].atStart.frames;
    totalBytes += f.bytes - d[i].atStart.bytes;
    totalFrames += frames;
    badFrames += f.badFrames;
    if (frames < minFrames) minFrames = frames;
    if (frames > maxFrames) maxFrames = frames;
    /* A frame either side of the window is timing, not loss. */
    if ((double)frames + 2.0 < expected * 0.98) shortStreams++;
  }
  double cpuPercent = elapsedMs ? (double)cpu / 100.0 / (double)elapsedMs : 0.0; /* % of one core */
  HostPrint(
      "MULTI result streams=%u seconds=%.1f expected_per_stream=%.0f min=%llu max=%llu short_streams=%u "
      "bad=%u kbps_per_stream=%llu cpu_percent=%.1f cpu_percent_per_stream=%.2f frames_total=%llu",
      n, (double)elapsedMs / 1000.0, expected, minFrames, maxFrames, shortStreams, badFrames,
      elapsedMs ? totalBytes * 8 / elapsedMs / n : 0ull, cpuPercent, cpuPercent / n, totalFrames);
  FrameLatencyPrint();
  if (shortStreams || badFrames) ok = false;

  DWORD slowest = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (d[i].video) {
      ULONGLONG t = GetTickCount64();
      d[i].video->vtbl->StopChannel(d[i].video, 0);
      DWORD ms = (DWORD)(GetTickCount64() - t);
      if (ms > slowest) slowest = ms;
    }
    if (d[i].driver) {
      d[i].driver->vtbl->Close(d[i].driver);
      destroy(d[i].driver);
    }
    StreamSinkDestroy(&d[i].sink);
  }
  HostPrint("MULTI stopped slowest_stop_ms=%lu", (unsigned long)slowest);
  free(d);
  return ok;
}
