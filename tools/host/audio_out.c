/* Audio output as the recorder drives it: the driver's audio sender (IIPAudioSender) and the
 * host objects it is handed (format list, status callback, audio frames), all through vtables
 * written from the slot tables. Mode audio-out sends a WAV file's samples to the camera; the
 * cycles mode with --audio-out opens and closes an output channel again and again. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "audio_objects.h"
#include "host_objects.h"
#include "host_session.h"

/* ---- the driver's audio sender ---- */

typedef struct AudioSenderVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags); /* 0 */
  uint32_t (*GetChannelCount)(void* self);                           /* 1 */
  bool (*OpenChannel)(void* self, uint32_t channel, uint32_t parameter, void* callback,
                      void* formats);                                 /* 2 */
  bool (*CloseChannel)(void* self, uint32_t channel);                 /* 3 */
  bool (*Send)(void* self, void* frame);                              /* 4 */
  bool (*GetAudioFormat)(void* self, uint32_t channel, void* format); /* 5 */
  uint32_t (*GetChannelStatus)(void* self, uint32_t channel);         /* 6 */
  bool (*Unsupported7)(void* self);                                   /* 7 */
  bool (*Unsupported8)(void* self);                                   /* 8 */
} AudioSenderVtbl;

typedef struct AudioSender {
  const AudioSenderVtbl* vtbl;
} AudioSender;

/* The host channel index the driver reports back with every status. */
#define HOST_AUDIO_INDEX 7u
#define MAX_FORMATS 8

static uint32_t Tag(const char* text) {
  return (uint32_t)(uint8_t)text[0] | (uint32_t)(uint8_t)text[1] << 8 | (uint32_t)(uint8_t)text[2] << 16 |
         (uint32_t)(uint8_t)text[3] << 24;
}

static void TagText(uint32_t tag, char* text) {
  for (int i = 0; i < 4; ++i) {
    char c = (char)((tag >> (8 * i)) & 0xFF);
    text[i] = c >= 32 && c < 127 ? c : '?';
  }
  text[4] = '\0';
}

/* ---- status callback ---- */

typedef struct StatusCallback {
  const void* vtbl;
  volatile LONG last;
  volatile LONG changes;
  volatile LONG seen[8]; /* how often each status was reported */
  HANDLE changed;
} StatusCallback;

static void StatusOnStatus(void* self, uint32_t index, uint32_t status) {
  StatusCallback* cb = (StatusCallback*)self;
  if (index != HOST_AUDIO_INDEX) HostPrint("host: ERROR: audio status for host index %u", index);
  InterlockedExchange(&cb->last, (LONG)status);
  InterlockedIncrement(&cb->changes);
  if (status < 8) InterlockedIncrement(&cb->seen[status]);
  HostPrint("AUDIO_STATUS index=%u status=%u", index, status);
  SetEvent(cb->changed);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*onStatus)(void*, uint32_t, uint32_t);
} statusVtbl = {HostNotDeleted, StatusOnStatus};

/* Waits until the last reported status is `status`; false after `ms`. */
static bool WaitStatus(StatusCallback* cb, uint32_t status, DWORD ms) {
  ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if ((uint32_t)cb->last == status) return true;
    ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    WaitForSingleObject(cb->changed, (DWORD)(end - now));
  }
}

/* ---- offered formats ---- */

typedef struct FormatEntry {
  const void* vtbl;
  uint32_t tag;
} FormatEntry;

static bool EntryUsable(void* self) {
  (void)self;
  return true;
}
static uint32_t EntryTag(void* self) { return ((FormatEntry*)self)->tag; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*usable)(void*);
  uint32_t (*tag)(void*);
} entryVtbl = {HostNotDeleted, EntryUsable, EntryTag};

typedef struct FormatList {
  const void* vtbl;
  uint32_t count;
  FormatEntry entries[MAX_FORMATS];
} FormatList;

static uint32_t ListCount(void* self) { return ((FormatList*)self)->count; }
static void* ListEntry(void* self, uint32_t index) {
  FormatList* list = (FormatList*)self;
  return index < list->count ? &list->entries[index] : NULL;
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  uint32_t (*count)(void*);
  void* (*entry)(void*, uint32_t);
} listVtbl = {HostNotDeleted, ListCount, ListEntry};

static void FormatListInit(FormatList* list, const char* tags) {
  memset(list, 0, sizeof(*list));
  list->vtbl = &listVtbl;
  const char* p = tags;
  while (p && *p && list->count < MAX_FORMATS) {
    if (strlen(p) < 4) break;
    list->entries[list->count].vtbl = &entryVtbl;
    list->entries[list->count].tag = Tag(p);
    list->count++;
    p = strchr(p, ',');
    if (p) ++p;
  }
}

/* ---- the format object the driver fills ---- */

typedef struct AudioFormat {
  const void* vtbl;
  uint32_t tag, sampleRate, bitRate;
  bool stereo;
} AudioFormat;

static void FormatSetTag(void* self, uint32_t v) { ((AudioFormat*)self)->tag = v; }
static void FormatSetRate(void* self, uint32_t v) { ((AudioFormat*)self)->sampleRate = v; }
static void FormatSetBitRate(void* self, uint32_t v) { ((AudioFormat*)self)->bitRate = v; }
static void FormatSetStereo(void* self, bool v) { ((AudioFormat*)self)->stereo = v; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*tag)(void*, uint32_t);
  void (*rate)(void*, uint32_t);
  void (*bitRate)(void*, uint32_t);
  void (*stereo)(void*, bool);
} formatVtbl = {HostNotDeleted, FormatSetTag, FormatSetRate, FormatSetBitRate, FormatSetStereo};

/* ---- audio frames ---- */

/* Made like the frames of the host's audio allocation, so that the allocator's Release (which the
 * driver calls for every frame it accepted) counts and frees both kinds the same way. */
static void* NewAudioFrame(FrameAllocator* allocator, const uint8_t* bytes, uint32_t size, uint32_t bitRate) {
  void* f = HostAudioFrameMake(bytes, size, Tag("711M"), 8000, 16, false, bitRate, 0);
  if (f) InterlockedIncrement(&allocator->allocated);
  return f;
}

static void FreeRefusedFrame(FrameAllocator* allocator, void* f) {
  InterlockedIncrement(&allocator->released);
  HostAudioFrameFree(f);
}

/* ---- WAV reading ---- */

static uint32_t Le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The data chunk of a RIFF/WAVE file; prints its format. Caller frees. */
static uint8_t* ReadWavData(const char* path, uint32_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) return NULL;
  uint8_t* file = NULL;
  long length = 0;
  if (fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) > 12 && length < (64L << 20) &&
      fseek(f, 0, SEEK_SET) == 0) {
    file = (uint8_t*)malloc((size_t)length);
    if (file && fread(file, 1, (size_t)length, f) != (size_t)length) {
      free(file);
      file = NULL;
    }
  }
  fclose(f);
  if (!file) return NULL;
  uint8_t* data = NULL;
  if (memcmp(file, "RIFF", 4) == 0 && memcmp(file + 8, "WAVE", 4) == 0) {
    size_t at = 12;
    while (at + 8 <= (size_t)length) {
      uint32_t chunk = Le32(file + at + 4);
      if (chunk > (size_t)length - at - 8) break;
      if (memcmp(file + at, "fmt ", 4) == 0 && chunk >= 16) {
        const uint8_t* p = file + at + 8;
        HostPrint("AUDIO_FILE format=%u channels=%u rate=%u bits=%u", p[0] | p[1] << 8, p[2] | p[3] << 8,
                  Le32(p + 4), p[14] | p[15] << 8);
      } else if (memcmp(file + at, "data", 4) == 0) {
        data = (uint8_t*)malloc(chunk ? chunk : 1);
        if (data) {
          memcpy(data, file + at + 8, chunk);
          *size = chunk;
        }
        break;
      }
      at += 8 + chunk + (chunk & 1);
    }
  }
  free(file);
  return data;
}

/* True once a "quit" line was appended to the command file. */
static bool QuitRequested(const char* path) {
  if (!path) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char line[128];
  bool quit = false;
  while (!quit && fgets(line, sizeof(line), f)) quit = strncmp(line, "quit", 4) == 0;
  fclose(f);
  return quit;
}

static AudioSender* GetSender(Session* session) {
  if (session->version < 4) {
    HostPrint("host: ERROR: the audio sender needs factory version 4 or later");
    return NULL;
  }
  AudioSender* sender = (AudioSender*)session->driver->vtbl->GetAudioSender(session->driver);
  if (!sender) HostPrint("host: ERROR: no audio sender (is parameter 102 given?)");
  return sender;
}

bool ParseAudioOption(const char* arg, const char* value, AudioOutOptions* audio, bool* takesValue,
                      bool* bad) {
  *bad = false;
  if (strcmp(arg, "--audio-out") == 0) {
    audio->cycles = true;
    *takesValue = false;
    return true;
  }
  if (strcmp(arg, "--audio-no-wait") == 0) {
    audio->noWait = true;
    *takesValue = false;
    return true;
  }
  if (!value) return false;
  char* end = NULL;
  unsigned long v = strtoul(value, &end, 10);
  bool number = end && *end == '\0' && *value != '\0' && v <= 0xFFFFFFFFul;
  if (strcmp(arg, "--frame-bytes") == 0) {
    *bad = !number || v == 0 || v > 65536;
    audio->frameBytes = (uint32_t)v;
  } else if (strcmp(arg, "--frame-ms") == 0) {
    *bad = !number || v > 10000;
    audio->frameMs = (uint32_t)v;
  } else if (strcmp(arg, "--audio-bitrate") == 0) {
    *bad = !number;
    audio->bitRate = (uint32_t)v;
  } else if (strcmp(arg, "--audio-seconds") == 0) {
    *bad = !number;
    audio->seconds = (uint32_t)v;
  } else if (strcmp(arg, "--audio-formats") == 0) {
    audio->formats = value;
  } else {
    return false;
  }
  return true;
}

bool ModeAudioOut(Session* session) {
  const AudioOutOptions* opt = &session->options->audio;
  AudioSender* sender = GetSender(session);
  if (!sender) return false;
  uint32_t total = 0;
  uint8_t* samples = opt->file ? ReadWavData(opt->file, &total) : NULL;
  if (!samples || total == 0) {
    HostPrint("host: ERROR: no samples in \"%s\"", opt->file ? opt->file : "(no file)");
    free(samples);
    return false;
  }
  StatusCallback status;
  memset(&status, 0, sizeof(status));
  status.vtbl = &statusVtbl;
  status.changed = CreateEventA(NULL, FALSE, FALSE, NULL);
  FormatList formats;
  FormatListInit(&formats, opt->formats);

  bool opened = sender->vtbl->OpenChannel(sender, 0, HOST_AUDIO_INDEX, &status, &formats);
  HostPrint("AUDIO open=%s channels=%u", opened ? "true" : "false", sender->vtbl->GetChannelCount(sender));
  AudioFormat format = {&formatVtbl, 0, 0, 0, false};
  if (opened && sender->vtbl->GetAudioFormat(sender, 0, &format)) {
    char tag[5];
    TagText(format.tag, tag);
    HostPrint("AUDIO format tag=%s rate=%u bitrate=%u stereo=%d", tag, format.sampleRate, format.bitRate,
              format.stereo ? 1 : 0);
  }
  /* A recorder may send its first frame the moment the open returned, before "running". */
  bool running = opened && (opt->noWait || WaitStatus(&status, 2, 15000));
  if (!running) HostPrint("AUDIO not running: status %u", sender->vtbl->GetChannelStatus(sender, 0));

  unsigned long long sentBytes = 0;
  unsigned frames = 0, refused = 0;
  ULONGLONG begin = GetTickCount64();
  bool quit = false;
  while (running && !quit) {
    for (uint32_t at = 0; at < total && !quit; at += opt->frameBytes) {
      uint32_t n = total - at < opt->frameBytes ? total - at : opt->frameBytes;
      void* f = NewAudioFrame(session->allocator, samples + at, n, opt->bitRate);
      if (!f) break;
      if (sender->vtbl->Send(sender, f)) {
        frames++;
        sentBytes += n;
      } else {
        refused++;
        FreeRefusedFrame(session->allocator, f);
      }
      Sleep(opt->frameMs);
      quit = QuitRequested(session->options->live.commandFile);
    }
    if (opt->seconds == 0 || GetTickCount64() - begin >= (ULONGLONG)opt->seconds * 1000) break;
  }
  /* The channel sends what it holds 80 ms a packet; let it finish before closing. */
  if (running) Sleep(1500);
  if (opt->noWait && opened)
    HostPrint("AUDIO running=%s", WaitStatus(&status, 2, 5000) ? "true" : "false");
  uint32_t last = sender->vtbl->GetChannelStatus(sender, 0);
  ULONGLONG closeBegin = GetTickCount64();
  bool closed = opened && sender->vtbl->CloseChannel(sender, 0);
  HostPrint("AUDIO close_ms=%lu", (unsigned long)(GetTickCount64() - closeBegin));
  HostPrint("AUDIO_OUT frames=%u refused=%u bytes=%llu last_status=%u closed=%s lost=%ld errors=%ld", frames,
            refused, sentBytes, last, closed ? "true" : "false", status.seen[5], status.seen[4]);
  CloseHandle(status.changed);
  free(samples);
  return opened && closed;
}

/* Open, run briefly, close; the process's threads, handles and private bytes must not grow. */
bool AudioCycles(Session* session) {
  const LiveOptions* live = &session->options->live;
  AudioSender* sender = GetSender(session);
  if (!sender) return false;
  StatusCallback status;
  memset(&status, 0, sizeof(status));
  status.vtbl = &statusVtbl;
  status.changed = CreateEventA(NULL, FALSE, FALSE, NULL);
  FormatList formats;
  FormatListInit(&formats, session->options->audio.formats);
  uint8_t silence[640];
  memset(silence, 0xFF, sizeof(silence));

  const unsigned warmup = 3;
  const unsigned total = live->cycles + warmup;
  ProcessFigures baseline, middle, now;
  memset(&baseline, 0, sizeof(baseline));
  memset(&middle, 0, sizeof(middle));
  unsigned running = 0, failures = 0;
  for (unsigned cycle = 0; cycle < total; ++cycle) {
    if (cycle == warmup) {
      SettleThreads(&baseline, &baseline);
      PrintProcessFigures("baseline", 0, &baseline);
    }
    InterlockedExchange(&status.last, 0);
    if (!sender->vtbl->OpenChannel(sender, 0, HOST_AUDIO_INDEX, &status, &formats)) {
      failures++;
      continue;
    }
    if (live->cycleWaitMs && WaitStatus(&status, 2, live->cycleWaitMs)) {
      if (cycle >= warmup) running++;
      void* f = NewAudioFrame(session->allocator, silence, sizeof(silence), 64000);
      if (f && !sender->vtbl->Send(sender, f)) FreeRefusedFrame(session->allocator, f);
    }
    if (!sender->vtbl->CloseChannel(sender, 0)) failures++;
    ReportCycle(live->cycles, cycle, warmup, &baseline, &middle, &now);
  }
  SettleThreads(&baseline, &now);
  PrintProcessFigures("end", live->cycles, &now);
  CloseHandle(status.changed);

  const long long kPrivateSlackKb = 1024;
  long long growthKb = ((long long)now.privateBytes - (long long)middle.privateBytes) / 1024;
  long long totalGrowthKb = ((long long)now.privateBytes - (long long)baseline.privateBytes) / 1024;
  bool threadsOk = now.threads <= baseline.threads;
  bool handlesOk = now.handles <= baseline.handles + 4;
  bool memoryOk = growthKb <= kPrivateSlackKb && totalGrowthKb <= 8 * kPrivateSlackKb;
  bool runningOk = live->cycleWaitMs == 0 || running * 10 >= live->cycles * 9;
  HostPrint(
      "AUDIO_CYCLES result cycles=%u running=%u failures=%u threads=%lu->%lu handles=%lu->%lu "
      "private_kb=%lu->%lu->%lu",
      live->cycles, running, failures, (unsigned long)baseline.threads, (unsigned long)now.threads,
      (unsigned long)baseline.handles, (unsigned long)now.handles,
      (unsigned long)(baseline.privateBytes / 1024), (unsigned long)(middle.privateBytes / 1024),
      (unsigned long)(now.privateBytes / 1024));
  bool ok = threadsOk && handlesOk && memoryOk && runningOk && failures == 0;
  HostPrint("AUDIO_CYCLES %s%s%s%s%s%s", ok ? "OK" : "FAILED:", threadsOk ? "" : " threads left behind",
            handlesOk ? "" : " handles left behind", memoryOk ? "" : " private bytes grow",
            runningOk ? "" : " too few cycles ran", failures ? " open or close failed" : "");
  return ok;
}
