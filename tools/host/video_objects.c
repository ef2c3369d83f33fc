/* The host's settings objects answer from their fields; the stream sink checks every frame the
 * way a recorder would before it stores one (a frame of ours, a payload inside the buffer, a
 * picture size, a start code or JPEG markers) and writes the payload to the capture file. */
#include "video_objects.h"

#include "edge_storage.h"
#include "frame_latency.h"

#include <string.h>

#include "host_objects.h"

#define MAX_ERROR_LINES 10

/* ---- settings ---- */

static uint32_t SizeGetWidth(void* self) { return ((HostVideoSize*)self)->width; }
static uint32_t SizeGetHeight(void* self) { return ((HostVideoSize*)self)->height; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  uint32_t (*getWidth)(void*);
  uint32_t (*getHeight)(void*);
} sizeVtbl = {HostNotDeleted, SizeGetWidth, SizeGetHeight};

static void FormatReserved1(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoFormat", 1);
}
static void FormatReserved2(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoFormat", 2);
}
static void* FormatGetSize(void* self) { return &((HostVideoFormat*)self)->size; }
static uint32_t FormatGetStreamFormat(void* self) { return ((HostVideoFormat*)self)->streamFormat; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*r1)(void*);
  void (*r2)(void*);
  void* (*getSize)(void*);
  uint32_t (*getStreamFormat)(void*);
} formatVtbl = {HostNotDeleted, FormatReserved1, FormatReserved2, FormatGetSize, FormatGetStreamFormat};

static uint32_t RateGetFrameRate(void* self) { return ((HostVideoRate*)self)->frameRate; }
static void RateReserved2(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoRate", 2);
}
static uint32_t RateGetQuality(void* self) { return ((HostVideoRate*)self)->quality; }
static uint32_t RateGetMotion(void* self) { return ((HostVideoRate*)self)->motion; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  uint32_t (*getFrameRate)(void*);
  void (*r2)(void*);
  uint32_t (*getQuality)(void*);
  uint32_t (*getMotion)(void*);
} rateVtbl = {HostNotDeleted, RateGetFrameRate, RateReserved2, RateGetQuality, RateGetMotion};

static void ZoneReserved1(void* self) {
  (void)self;
  HostUnexpectedSlot("privacy zone", 1);
}
static void ZoneReserved2(void* self) {
  (void)self;
  HostUnexpectedSlot("privacy zone", 2);
}
static void ZoneReserved3(void* self) {
  (void)self;
  HostUnexpectedSlot("privacy zone", 3);
}
static float ZoneX(void* self) { return ((HostZone*)self)->x; }
static float ZoneY(void* self) { return ((HostZone*)self)->y; }
static float ZoneWidth(void* self) { return ((HostZone*)self)->width; }
static float ZoneHeight(void* self) { return ((HostZone*)self)->height; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*r1)(void*);
  void (*r2)(void*);
  void (*r3)(void*);
  float (*x)(void*);
  float (*y)(void*);
  float (*width)(void*);
  float (*height)(void*);
} zoneVtbl = {HostNotDeleted, ZoneReserved1, ZoneReserved2, ZoneReserved3,
              ZoneX,          ZoneY,         ZoneWidth,     ZoneHeight};

static void* ZoneListGetZone(void* self, uint32_t index) {
  HostZoneList* list = (HostZoneList*)self;
  return index < (uint32_t)list->count ? &list->zones[index] : NULL;
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void* (*getZone)(void*, uint32_t);
} zoneListVtbl = {HostNotDeleted, ZoneListGetZone};

static void* SettingsGetFormat(void* self) { return &((HostVideoSettings*)self)->format; }
static void* SettingsGetRate(void* self) { return &((HostVideoSettings*)self)->rate; }
static void SettingsReserved3(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoSettings", 3);
}
static void SettingsReserved4(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoSettings", 4);
}
static void* SettingsGetStreamOption(void* self) {
  HostVideoSettings* settings = (HostVideoSettings*)self;
  return settings->hasZones ? &settings->zones : NULL;
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void* (*getFormat)(void*);
  void* (*getRate)(void*);
  void (*r3)(void*);
  void (*r4)(void*);
  void* (*getStreamOption)(void*);
} settingsVtbl = {HostNotDeleted,    SettingsGetFormat, SettingsGetRate,
                  SettingsReserved3, SettingsReserved4, SettingsGetStreamOption};

void VideoSizeInit(HostVideoSize* size, uint32_t width, uint32_t height) {
  size->vtbl = &sizeVtbl;
  size->width = width;
  size->height = height;
}

void VideoSettingsInit(HostVideoSettings* settings, uint32_t format, uint32_t width, uint32_t height,
                       uint32_t fps, uint32_t quality) {
  memset(settings, 0, sizeof(*settings));
  settings->vtbl = &settingsVtbl;
  settings->format.vtbl = &formatVtbl;
  VideoSizeInit(&settings->format.size, width, height);
  settings->format.streamFormat = format;
  settings->rate.vtbl = &rateVtbl;
  settings->rate.frameRate = 0x7000u | (fps & 0x0FFFu);
  settings->rate.quality = quality;
  settings->zones.vtbl = &zoneListVtbl;
}

bool VideoSettingsAddZone(HostVideoSettings* settings, float x, float y, float width, float height) {
  HostZoneList* list = &settings->zones;
  if (list->count >= HOST_MAX_ZONES) return false;
  HostZone* zone = &list->zones[list->count++];
  zone->vtbl = &zoneVtbl;
  zone->x = x;
  zone->y = y;
  zone->width = width;
  zone->height = height;
  settings->hasZones = true;
  return true;
}

/* ---- stream sink ---- */

void FourCCText(uint32_t fourcc, char* text) {
  if (fourcc == 0) {
    strcpy(text, "-");
    return;
  }
  for (int i = 0; i < 4; ++i) {
    char c = (char)((fourcc >> (8 * i)) & 0xFF);
    text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  text[4] = '\0';
}

static uint32_t MakeFourCC(const char* text) {
  return (uint32_t)(uint8_t)text[0] | (uint32_t)(uint8_t)text[1] << 8 | (uint32_t)(uint8_t)text[2] << 16 |
         (uint32_t)(uint8_t)text[3] << 24;
}

/* Why a frame is unfit for storage, or null when it is fine. */
static const char* CheckFrame(const Frame* frame) {
  if (frame->size == 0) return "empty payload";
  if (frame->size > frame->capacity) return "payload beyond the allocated buffer";
  if (frame->width == 0 || frame->height == 0) return "no picture size";
  if (frame->sizeClass < 1 || frame->sizeClass > 4) return "size class outside 1..4";
  const uint8_t* d = frame->data;
  if (frame->fourcc == MakeFourCC("H264") || frame->fourcc == MakeFourCC("I264")) {
    bool startCode = (frame->size >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 1) ||
                     (frame->size >= 5 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1);
    if (!startCode) return "H.264 access unit without a start code";
  } else if (frame->fourcc == MakeFourCC("DIVX") || frame->fourcc == MakeFourCC("DIVD") ||
             frame->fourcc == MakeFourCC("DIVI") || frame->fourcc == MakeFourCC("DIVP")) {
    /* MPEG-4 pictures start with a start code (VOS, VOL, GOV or VOP). */
    if (frame->size < 4 || d[0] != 0 || d[1] != 0 || d[2] != 1) return "MPEG-4 picture without a start code";
  } else if (frame->fourcc == MakeFourCC("JPEG")) {
    if (frame->size < 4 || d[0] != 0xFF || d[1] != 0xD8) return "JPEG without SOI";
    if (d[frame->size - 2] != 0xFF || d[frame->size - 1] != 0xD9) return "JPEG without EOI";
  } else {
    return "unexpected fourcc";
  }
  return NULL;
}

static bool SinkOnFrame(void* self, void* object) {
  StreamSink* sink = (StreamSink*)self;
  if (!HostIsFrame(object)) {
    HostPrint("host: ERROR: channel %u stream %u: OnFrame with an object that is not a host frame",
              sink->channel, sink->stream);
    return false;
  }
  FrameLatencyRecord();
  const Frame* frame = (const Frame*)object;
  const char* problem = CheckFrame(frame);
  if (!problem && EdgeStorageTakeFrame(sink->channel, frame)) return true;
  EnterCriticalSection(&sink->lock);
  StreamFigures* f = &sink->figures;
  if (problem) {
    f->badFrames++;
    if (!sink->quiet && f->badFrames <= MAX_ERROR_LINES) {
      char fourcc[5];
      FourCCText(frame->fourcc, fourcc);
      HostPrint("host: ERROR: channel %u stream %u: bad frame (%s): fourcc %s, %u bytes, %ux%u, class %u",
                sink->channel, sink->stream, problem, fourcc, frame->size, frame->width, frame->height,
                frame->sizeClass);
    }
  } else {
    f->frames++;
    f->bytes += frame->size;
    f->width = frame->width;
    f->height = frame->height;
    f->fourcc = frame->fourcc;
    f->sizeClass = frame->sizeClass;
    if (sink->out) fwrite(frame->data, 1, frame->size, sink->out);
  }
  LeaveCriticalSection(&sink->lock);
  if (!problem) SetEvent(sink->frameEvent);
  return problem == NULL;
}

static void SinkReserved2(void* self) {
  (void)self;
  HostUnexpectedSlot("IIPVideoCallback", 2);
}

static void SinkOnSignalLost(void* self) {
  StreamSink* sink = (StreamSink*)self;
  EnterCriticalSection(&sink->lock);
  long count = ++sink->figures.signalLost;
  LeaveCriticalSection(&sink->lock);
  HostPrint("SIGNAL_LOST channel=%u stream=%u count=%ld", sink->channel, sink->stream, count);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*onFrame)(void*, void*);
  void (*r2)(void*);
  void (*onSignalLost)(void*);
} sinkVtbl = {HostNotDeleted, SinkOnFrame, SinkReserved2, SinkOnSignalLost};

void StreamSinkInit(StreamSink* sink, uint32_t channel, uint32_t stream, FILE* out) {
  memset(sink, 0, sizeof(*sink));
  sink->vtbl = &sinkVtbl;
  sink->channel = channel;
  sink->stream = stream;
  sink->out = out;
  InitializeCriticalSection(&sink->lock);
  sink->frameEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
}

void StreamSinkDestroy(StreamSink* sink) {
  if (sink->frameEvent) CloseHandle(sink->frameEvent);
  sink->frameEvent = NULL;
  DeleteCriticalSection(&sink->lock);
}

void StreamSinkRead(StreamSink* sink, StreamFigures* figures) {
  EnterCriticalSection(&sink->lock);
  *figures = sink->figures;
  LeaveCriticalSection(&sink->lock);
}
